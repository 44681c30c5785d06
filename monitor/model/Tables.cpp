#include "monitor/model/Tables.h"

#include <algorithm>

#include "platform/tickcount/TickCount.h"

namespace ombrix {

namespace {

CompareResult CompareFileKey(const TFileInfo& f, std::uint32_t processId,
                             std::uint32_t fileObject) {
  if (const CompareResult r = CompareValues(f.ProcessId, processId); r != crEqual) return r;
  return CompareValues(f.FileObject, fileObject);
}

CompareResult CompareSocketKey(const TSocketInfo& s, std::uint32_t processId, std::uint32_t address,
                               std::uint16_t port) {
  if (const CompareResult r = CompareValues(s.ProcessId, processId); r != crEqual) return r;
  if (const CompareResult r = CompareValues(s.RemoteAddress, address); r != crEqual) return r;
  return CompareValues(s.RemotePort, port);
}

// Binary search over a table ordered by keyCompare (the entry against the key). Returns
// the entry's index when found, and in `low` the insertion point otherwise.
template <typename T, typename KeyCompare>
bool SearchTable(const std::vector<std::unique_ptr<T>>& table, KeyCompare keyCompare,
                 std::size_t& low) {
  low = 0;
  std::size_t high = table.size();  // one past the last candidate
  while (low < high) {
    const std::size_t middle = low + (high - low) / 2;
    switch (keyCompare(*table[middle])) {
      case crEqual:
        low = middle;
        return true;
      case crLess:
        low = middle + 1;
        break;
      case crGreater:
        high = middle;
        break;
    }
  }
  return false;
}

// Entries of one process id, found by their place in a table ordered by process id first.
template <typename T>
std::pair<std::size_t, std::size_t> ProcessRange(const std::vector<std::unique_ptr<T>>& table,
                                                 std::uint32_t id) {
  const auto first = std::partition_point(table.begin(), table.end(),
                                          [id](const auto& e) { return e->ProcessId < id; });
  const auto last =
      std::partition_point(first, table.end(), [id](const auto& e) { return e->ProcessId == id; });
  return {static_cast<std::size_t>(first - table.begin()),
          static_cast<std::size_t>(last - table.begin())};
}

}  // namespace

TEntityTables::~TEntityTables() {
  Rows.clear();
  FilterProcess = nullptr;
  SelectedEntity = nullptr;
  SystemProcess = nullptr;
  // Files and sockets refer to their processes, so they go first.
  Files.clear();
  Disks.clear();
  Sockets.clear();
  Adapters.clear();
  Processes.clear();
}

TProcessInfo* TEntityTables::FindProcess(std::uint32_t id) const {
  if (id == NoProcess) return nullptr;
  // Plain midpoint search: with several id-0 entries it returns the first one it reaches.
  std::int64_t low = 0;
  std::int64_t high = static_cast<std::int64_t>(Processes.size()) - 1;
  while (low <= high) {
    const std::int64_t middle = (low + high) / 2;
    TProcessInfo* p = Processes[static_cast<std::size_t>(middle)].get();
    if (p->ProcessId == id) return p;
    if (p->ProcessId < id) {
      low = middle + 1;
    } else {
      high = middle - 1;
    }
  }
  return nullptr;
}

TProcessInfo* TEntityTables::InsertProcess(std::unique_ptr<TProcessInfo> process) {
  const std::uint32_t id = process->ProcessId;
  const auto at =
      std::upper_bound(Processes.begin(), Processes.end(), id,
                       [](std::uint32_t key, const auto& e) { return key < e->ProcessId; });
  TProcessInfo* p = Processes.insert(at, std::move(process))->get();
  ProcessListChanged = true;
  return p;
}

TProcessInfo* TEntityTables::FindOrCreateProcess(std::uint32_t id, const std::string& name) {
  TProcessInfo* p = FindProcess(id);
  if (p == nullptr) p = InsertProcess(std::make_unique<TProcessInfo>(this, id));
  if (!name.empty()) {
    p->SetName(name);
    if (name == "System") SystemProcess = p;
  }
  return p;
}

std::string TEntityTables::ProcessNameOf(std::uint32_t id) const {
  if (TProcessInfo* p = FindProcess(id)) return p->GetName();
  return HexProcessId(id);
}

template <typename T>
std::size_t TEntityTables::FindOrCreateNamed(std::vector<std::unique_ptr<T>>& table,
                                             const std::string& name) {
  std::size_t i = 0;
  for (; i < table.size(); ++i) {
    const std::string entry = table[i]->GetName();
    if (entry == name) break;
    if (entry > name) {  // std::string compares byte-wise, as unsigned characters
      table.insert(table.begin() + static_cast<std::ptrdiff_t>(i), std::make_unique<T>(this, name));
      break;
    }
  }
  if (i == table.size()) table.push_back(std::make_unique<T>(this, name));
  table[i]->Touch(false);
  return i;
}

std::size_t TEntityTables::FindOrCreateDisk(const std::string& name) {
  return FindOrCreateNamed(Disks, name);
}

std::size_t TEntityTables::FindOrCreateAdapter(const std::string& name) {
  return FindOrCreateNamed(Adapters, name);
}

TFileInfo* TEntityTables::FindOrCreateFile(std::uint32_t processId, std::uint32_t fileObject) {
  std::size_t at = 0;
  const auto key = [&](const TFileInfo& f) { return CompareFileKey(f, processId, fileObject); };
  if (SearchTable(Files, key, at)) return Files[at].get();
  auto file = std::make_unique<TFileInfo>(this, processId, fileObject);
  return Files.insert(Files.begin() + static_cast<std::ptrdiff_t>(at), std::move(file))->get();
}

TSocketInfo* TEntityTables::FindOrCreateSocket(std::uint32_t processId, std::uint32_t remoteAddress,
                                               std::uint16_t remotePort) {
  std::size_t at = 0;
  const auto key = [&](const TSocketInfo& s) {
    return CompareSocketKey(s, processId, remoteAddress, remotePort);
  };
  if (SearchTable(Sockets, key, at)) return Sockets[at].get();
  auto socket = std::make_unique<TSocketInfo>(this, processId, remoteAddress, remotePort);
  return Sockets.insert(Sockets.begin() + static_cast<std::ptrdiff_t>(at), std::move(socket))
      ->get();
}

void TEntityTables::ResetActivity() {
  for (auto& p : Processes) {
    p->Touch(false);
    p->ThreadCount = 0;
  }
  for (auto& d : Disks) d->Touch(false);
  for (auto& a : Adapters) a->Touch(false);
}

void TEntityTables::Forget(const TInfo* entity) {
  if (SelectedEntity == entity) SelectedEntity = nullptr;
  if (FilterProcess == entity) FilterProcess = nullptr;
  if (SystemProcess == entity) SystemProcess = nullptr;
  if (!Rows.empty()) leaving_.insert(entity);
}

// One pass over Rows for a whole sweep or prune: erasing each entity on its own would scan
// Rows once per entity, and a prune may free tens of thousands of listed files.
void TEntityTables::LeaveRows() {
  if (leaving_.empty()) return;
  rowSteps_ += Rows.size();
  std::erase_if(Rows, [this](const TInfo* row) { return leaving_.contains(row); });
  leaving_.clear();
}

// Moves the process with its files and sockets into removed, the process first.
void TEntityTables::RemoveProcess(std::size_t index, std::vector<std::unique_ptr<TInfo>>& removed) {
  // Out of the table at once, so that lookups made while its lines are written see a
  // whole table without it.
  removed.push_back(std::move(Processes[index]));
  Processes.erase(Processes.begin() + static_cast<std::ptrdiff_t>(index));
  auto& process = static_cast<TProcessInfo&>(*removed.back());
  ProcessListChanged = true;
  Forget(&process);
  process.LogCompletion();

  const auto [fileFirst, fileLast] = ProcessRange(Files, process.ProcessId);
  for (std::size_t i = fileFirst; i < fileLast; ++i) {
    Forget(Files[i].get());
    Files[i]->LogCompletion();
    removed.push_back(std::move(Files[i]));
  }
  if (CompletionLog != nullptr) CompletionLog->FilesDone(process);
  Files.erase(Files.begin() + static_cast<std::ptrdiff_t>(fileFirst),
              Files.begin() + static_cast<std::ptrdiff_t>(fileLast));

  const auto [sockFirst, sockLast] = ProcessRange(Sockets, process.ProcessId);
  for (std::size_t i = sockFirst; i < sockLast; ++i) {
    Forget(Sockets[i].get());
    Sockets[i]->LogCompletion();
    removed.push_back(std::move(Sockets[i]));
  }
  Sockets.erase(Sockets.begin() + static_cast<std::ptrdiff_t>(sockFirst),
                Sockets.begin() + static_cast<std::ptrdiff_t>(sockLast));
}

void TEntityTables::SweepProcesses() {
  std::vector<std::unique_ptr<TInfo>> removed;
  // From the last entry to the first, so the entries still to visit keep their places.
  for (std::size_t i = Processes.size(); i-- > 0;) {
    const TProcessInfo& p = *Processes[i];
    if (!p.Permanent && !p.Active) RemoveProcess(i, removed);
  }
  LeaveRows();
  // Last in, first freed: files and sockets before the process they refer to.
  while (!removed.empty()) removed.pop_back();
}

template <typename T>
void TEntityTables::ExpireIdle(std::vector<std::unique_ptr<T>>& table) {
  std::uint32_t longestKept = 0;
  std::vector<std::unique_ptr<T>> expired;
  for (auto& entry : table) {
    const std::uint32_t idle = entry->IdleTime();
    if (idle >= IdleLimit) {
      Forget(entry.get());
      expired.push_back(std::move(entry));
    } else {
      longestKept = std::max(longestKept, idle);
    }
  }
  std::erase(table, nullptr);
  LeaveRows();  // before the expired entries are freed, when this returns
  if (longestKept > 0) NextPruneTick = platform::GetTickCount() + (IdleLimit - longestKept);
}

void TEntityTables::ExpireIdleFiles() {
  ExpireIdle(Files);
}
void TEntityTables::ExpireIdleSockets() {
  ExpireIdle(Sockets);
}

bool TEntityTables::PruneIfDue() {
  const std::uint32_t now = platform::GetTickCount();
  if (now < NextPruneTick) return false;
  NextPruneTick = now + IdleLimit;
  ExpireIdleFiles();
  ExpireIdleSockets();
  return true;
}

void TEntityTables::CloseIntervals() {
  for (auto& p : Processes) p->CloseInterval();
  for (auto& f : Files) f->CloseInterval();
  for (auto& s : Sockets) s->CloseInterval();
}

}  // namespace ombrix
