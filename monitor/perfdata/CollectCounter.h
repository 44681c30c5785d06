// The counter collection: the visitor that turns each sample's performance data into the
// machine-wide averages and the process, disk, adapter and memory figures.
#pragma once
#include <cstdint>
#include <string>

#include "monitor/perfdata/Statistics.h"

namespace ombrix {

class TAverage;
class TEntityTables;
class TMemoryInfo;
class TProcessInfo;

// The seven objects the monitor reads: System, Memory, Processor, Process, Thread,
// LogicalDisk and Network Interface. Asking for these alone keeps each block small.
inline constexpr const char* CollectQueryText = "2 4 238 230 232 236 510 ";

// Where the collection puts what it reads; owned by whoever owns the collection.
struct TCollectionTargets {
  TEntityTables& Tables;
  TMemoryInfo& Memory;
  TAverage& CpuUsageAverage;
  TAverage& CpuQueueAverage;
  TAverage& DiskBusyAverage;
  TAverage& DiskQueueAverage;
};

// The collection's destinations and its scratch values. The monitor's core derives from it
// and owns the destinations; the collection only refers to them.
class TCounterCollection {
 public:
  explicit TCounterCollection(const TCollectionTargets& targets)
      : Tables(targets.Tables),
        Memory(targets.Memory),
        CpuUsageAverage(targets.CpuUsageAverage),
        CpuQueueAverage(targets.CpuQueueAverage),
        DiskBusyAverage(targets.DiskBusyAverage),
        DiskQueueAverage(targets.DiskQueueAverage) {}

  TEntityTables& Tables;
  TMemoryInfo& Memory;
  TAverage& CpuUsageAverage;
  TAverage& CpuQueueAverage;
  TAverage& DiskBusyAverage;
  TAverage& DiskQueueAverage;
  // Entities of the tables, made at start-up.
  TProcessInfo* IdleProcess = nullptr;
  TProcessInfo* InterruptsProcess = nullptr;
  TProcessInfo* DpcsProcess = nullptr;
  std::int32_t ProcessorCount = 1;
  // The tick count at which the interval that the next walk closes began: when the first
  // block was fetched, then whenever a tick has closed its intervals. The differences the
  // walk forms between two blocks cover this interval.
  std::uint32_t SampleIntervalStart = 0;

  // The visitor: true skips the rest of the current instance (or object).
  bool CollectCounter(TObjectType& object, TInstance* instance, bool lastCounter,
                      TCounter& counter);
  // CollectCounter bound to this object, for ForEachCounter.
  CounterVisitor Visitor();
  // Called before each walk: entities may have left the tables since the last one.
  void BeginCollection() { LastThreadProcess = nullptr; }

 private:
  bool CollectProcessor(TObjectType& object, TInstance* instance, TCounter& counter);
  bool CollectProcess(TInstance* instance, bool lastCounter, TCounter& counter);
  void StoreProcess();
  bool CollectThread(TInstance* instance, bool lastCounter, TCounter& counter);
  void ChargeThread();
  void CollectDiskTotal(bool lastCounter, TCounter& counter);
  void CollectDisk(TInstance& instance, TCounter& counter);
  void CollectAdapter(TInstance& instance, bool lastCounter, TCounter& counter);

  std::uint32_t PendingProcessId = 0;
  std::string PendingProcessName;
  double PendingProcessorPercent = 0;
  double PendingIoOperations = 0;
  double PendingOtherIoOperations = 0;
  double PendingIoBytes = 0;
  double PendingOtherIoBytes = 0;
  std::int64_t PendingPrivateBytes = 0;
  std::int64_t PendingWorkingSet = 0;
  std::uint32_t PendingThreadProcessId = 0;
  std::uint32_t PendingThreadId = 0;
  std::uint32_t PendingContextSwitches = 0;
  double DpcPercent = 0;
  double InterruptPercent = 0;
  double LastDiskBusyPercent = 0;
  std::int32_t AdapterReceiveErrors = 0;
  std::int32_t AdapterSendErrors = 0;
  // Threads come grouped by process: the entity of the previous thread usually serves the
  // next one too, which spares a search per thread.
  TProcessInfo* LastThreadProcess = nullptr;
};

}  // namespace ombrix
