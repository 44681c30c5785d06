#include "monitor/network/AddressTable.h"

#include <algorithm>
#include <cstring>

#include "monitor/settings/Settings.h"

namespace ombrix {

std::string DottedName(std::uint32_t address) {
  return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
         std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

TAddressTable::TAddressTable(std::unique_ptr<platform::HostLookup> lookup,
                             std::recursive_mutex& lock)
    : lookup_(std::move(lookup)), lock_(lock) {
  if (lookup_) {
    lookup_->SetCompletion([this](platform::LookupTask task, int error, const std::string& name) {
      std::lock_guard guard(lock_);
      LookupDone(task, error, name);
    });
  }
}

TAddressTable::~TAddressTable() {
  if (!lookup_) return;
  for (const auto& e : entries_) {
    if (e->LookupTask != 0) lookup_->Cancel(e->LookupTask);
  }
  lookup_->SetCompletion(nullptr);
}

std::size_t TAddressTable::IndexOf(std::uint32_t address) {
  const auto at = std::lower_bound(entries_.begin(), entries_.end(), address,
                                   [](const auto& e, std::uint32_t a) { return e->Address < a; });
  const auto index = static_cast<std::size_t>(at - entries_.begin());
  if (at != entries_.end() && (*at)->Address == address) return index;
  auto entry = std::make_unique<TAddressEntry>();
  entry->Address = address;
  entry->HostName = DottedName(address);
  entries_.insert(at, std::move(entry));
  if (Settings.GetHostNames) StartLookup(index);
  return index;
}

std::string TAddressTable::HostNameOf(std::uint32_t address) {
  return entries_[IndexOf(address)]->HostName;
}

void TAddressTable::StartLookup(std::size_t index) {
  TAddressEntry& e = *entries_.at(index);
  if (e.Resolved || e.LookupBuffer) return;
  e.LookupBuffer = std::make_unique<char[]>(TAddressEntry::LookupBufferSize);
  // A lookup that cannot start keeps its buffer and no task, and is not tried again.
  e.LookupTask = lookup_ ? lookup_->Start(e.Address) : 0;
}

void TAddressTable::StartAllLookups() {
  for (std::size_t i = 0; i < entries_.size(); ++i) StartLookup(i);
}

void TAddressTable::LookupDone(platform::LookupTask task, int error, const std::string& name) {
  if (task == 0) return;
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [task](const auto& e) { return e->LookupTask == task; });
  if (it == entries_.end()) return;
  TAddressEntry& e = **it;
  e.LookupTask = 0;
  if (error == 0) {
    e.Resolved = true;
    // The answer lands in the entry's buffer as the platform's record would; a name longer
    // than the buffer is cut to it.
    if (!e.LookupBuffer) e.LookupBuffer = std::make_unique<char[]>(TAddressEntry::LookupBufferSize);
    const std::size_t n = std::min(name.size(), TAddressEntry::LookupBufferSize - 1);
    std::memcpy(e.LookupBuffer.get(), name.data(), n);
    e.LookupBuffer[n] = '\0';
    if (n > 0) e.HostName.assign(e.LookupBuffer.get(), std::strlen(e.LookupBuffer.get()));
  }
  e.LookupBuffer.reset();
}

std::int64_t TAddressTable::MemoryUsed() const {
  std::int64_t bytes = sizeof(*this);
  for (const auto& e : entries_) {
    bytes += 24 + static_cast<std::int64_t>(e->HostName.size());
    if (e->LookupBuffer) bytes += TAddressEntry::LookupBufferSize;
  }
  return bytes;
}

}  // namespace ombrix
