// The five entity tables and the state the tick keeps beside them. The shell owns one
// instance; every operation is called with ModelLock held and takes no lock itself.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "monitor/model/Info.h"

namespace ombrix {

class TAddressTable;

// Files and sockets that stay idle this long leave their tables.
inline constexpr std::uint32_t IdleLimit = 300000;

// Receives what a sweep removes, in the order of the completed-process log: the process,
// then each of its files, then FilesDone, then each of its sockets. Each entity is still
// whole when it is passed, and freed before the sweep returns.
class TCompletionLog {
 public:
  virtual ~TCompletionLog() = default;
  virtual void ProcessDone(TProcessInfo& process) = 0;
  virtual void FileDone(TFileInfo& file) = 0;
  virtual void FilesDone(TProcessInfo& process) = 0;
  virtual void SocketDone(TSocketInfo& socket) = 0;
};

// Call every operation with ModelLock held.
class TEntityTables {
 public:
  TEntityTables() = default;
  ~TEntityTables();
  TEntityTables(const TEntityTables&) = delete;
  TEntityTables& operator=(const TEntityTables&) = delete;

  // Ascending process id; equal ids keep their order of insertion.
  std::vector<std::unique_ptr<TProcessInfo>> Processes;
  std::vector<std::unique_ptr<TDiskInfo>> Disks;  // ascending name, byte-wise
  std::vector<std::unique_ptr<TFileInfo>> Files;  // ascending (process id, file object)
  // Ascending (process id, remote address, remote port).
  std::vector<std::unique_ptr<TSocketInfo>> Sockets;
  std::vector<std::unique_ptr<TAdapterInfo>> Adapters;  // ascending name, byte-wise

  // Non-owning references; an entity that leaves its table leaves these in the same step.
  std::vector<TInfo*> Rows;
  TProcessInfo* FilterProcess = nullptr;
  TInfo* SelectedEntity = nullptr;
  TProcessInfo* SystemProcess = nullptr;

  bool ProcessListChanged = false;
  std::uint32_t NextPruneTick = 0;
  TAddressTable* AddressTable = nullptr;    // host names of sockets; may be none
  TCompletionLog* CompletionLog = nullptr;  // may be none

  TProcessInfo* FindProcess(std::uint32_t id) const;
  TProcessInfo* FindOrCreateProcess(std::uint32_t id, const std::string& name);
  // Inserts a process entity after every entry whose id is not greater (the pseudo
  // processes share id 0).
  TProcessInfo* InsertProcess(std::unique_ptr<TProcessInfo> process);
  // The id as 8 upper-case hex digits, or the name of its process entity.
  std::string ProcessNameOf(std::uint32_t id) const;

  // Index of the entry, created when new; given Touch(false). An index stays valid only
  // until the next insertion.
  std::size_t FindOrCreateDisk(const std::string& name);
  std::size_t FindOrCreateAdapter(const std::string& name);
  TFileInfo* FindOrCreateFile(std::uint32_t processId, std::uint32_t fileObject);
  TSocketInfo* FindOrCreateSocket(std::uint32_t processId, std::uint32_t remoteAddress,
                                  std::uint16_t remotePort);

  void ResetActivity();
  // Removes every process that is neither active nor permanent, with its files and sockets.
  void SweepProcesses();
  // Removes idle files (sockets) and moves NextPruneTick to when the oldest kept entry
  // reaches the limit.
  void ExpireIdleFiles();
  void ExpireIdleSockets();
  // When NextPruneTick has come: schedules the next prune in five minutes, then expires
  // files and sockets. True when it ran.
  bool PruneIfDue();
  // Every process, then every file, then every socket.
  void CloseIntervals();

  // Entries of Rows looked at while removed entities left it: the work of sweeps and
  // prunes, one pass over Rows each however many entities leave.
  std::size_t RowSteps() const { return rowSteps_; }

 private:
  template <typename T>
  std::size_t FindOrCreateNamed(std::vector<std::unique_ptr<T>>& table, const std::string& name);
  template <typename T>
  void ExpireIdle(std::vector<std::unique_ptr<T>>& table);
  void Forget(const TInfo* entity);
  // Takes every forgotten entity out of Rows; call before they are freed.
  void LeaveRows();
  void RemoveProcess(std::size_t index, std::vector<std::unique_ptr<TInfo>>& removed);

  std::unordered_set<const TInfo*> leaving_;  // forgotten, still to leave Rows
  std::size_t rowSteps_ = 0;
};

}  // namespace ombrix
