#include "monitor/perfdata/CollectCounter.h"

#include <algorithm>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "platform/checked/Checked.h"
#include "platform/perfdata/NameIndexes.h"

namespace ombrix {

namespace {

// Instance tags while an instance is walked. The walk resets the tag to -1 for each
// instance; disks and adapters keep their table index in it, and "_Total" instances and the
// other instances of the Processor and Thread objects are marked, so that an instance's
// name is read once instead of once per counter.
constexpr std::int32_t TagUnchecked = -1;
constexpr std::int32_t TagTotal = -2;
constexpr std::int32_t TagOther = -3;

// Compares the instance's UTF-16 name with "_Total" in place: the walk meets tens of
// thousands of thread instances per sample, and none of them needs its name as text. The
// name lies inside the block (checked when the cursor was set).
bool NamedTotal(const TInstance& instance) {
  static constexpr char Total[] = "_Total";
  const std::uint32_t length = instance.NameLength();
  if (length < 12) return false;
  const std::uint8_t* name =
      instance.Owner().Owner().Data() + instance.Definition() + instance.NameOffset();
  for (std::size_t i = 0; i < 6; ++i)
    if (name[2 * i] != static_cast<std::uint8_t>(Total[i]) || name[2 * i + 1] != 0) return false;
  return length < 14 || (name[12] == 0 && name[13] == 0);
}

bool IsTotal(TInstance& instance) {
  if (instance.Tag == TagUnchecked) instance.Tag = NamedTotal(instance) ? TagTotal : TagOther;
  return instance.Tag == TagTotal;
}

double Raw(const TCounter& counter) {
  return static_cast<double>(counter.RawValue());
}

// The change of a raw counter since the previous block. An instance new in this block has
// no previous value and no change yet: its raw value is its whole history.
std::int64_t Delta(const TCounter& counter) {
  if (!counter.HasPrevious()) return 0;
  return platform::CheckedSub(counter.RawValue(), counter.PreviousRawValue());
}

// The same, which must fit 32 bits.
std::int32_t Delta32(const TCounter& counter) {
  return platform::CheckedCast<std::int32_t>(Delta(counter));
}

}  // namespace

CounterVisitor TCounterCollection::Visitor() {
  return [this](TObjectType& object, TInstance* instance, bool lastCounter, TCounter& counter) {
    return CollectCounter(object, instance, lastCounter, counter);
  };
}

bool TCounterCollection::CollectCounter(TObjectType& object, TInstance* instance, bool lastCounter,
                                        TCounter& counter) {
  switch (object.ObjectNameTitleIndex()) {
    case platform::kObjSystem:
      if (counter.CounterNameTitleIndex() == platform::kProcessorQueueLength)
        CpuQueueAverage.Add(Raw(counter));
      return false;
    case platform::kObjMemory:
      switch (counter.CounterNameTitleIndex()) {
        case platform::kAvailableBytes:
          Memory.AvailableAvg.Add(Raw(counter));
          break;
        case platform::kPageReads:
          Memory.PageReadRateAvg.Add(CounterValue(counter));
          break;
        case platform::kPageWrites:
          Memory.PageWriteRateAvg.Add(CounterValue(counter));
          break;
      }
      return false;
    case platform::kObjProcessor:
      return CollectProcessor(object, instance, counter);
    case platform::kObjProcess:
      return CollectProcess(instance, lastCounter, counter);
    case platform::kObjThread:
      return CollectThread(instance, lastCounter, counter);
    case platform::kObjLogicalDisk:
      if (instance == nullptr) return false;
      if (instance->Tag == TagUnchecked) {
        const std::string name = instance->Name();
        instance->Tag = name == "_Total"
                            ? TagTotal
                            : platform::CheckedCast<std::int32_t>(Tables.FindOrCreateDisk(name));
      }
      if (instance->Tag == TagTotal) {
        CollectDiskTotal(lastCounter, counter);
      } else {
        CollectDisk(*instance, counter);
      }
      return false;
    case platform::kObjNetworkInterface:
      if (instance != nullptr) CollectAdapter(*instance, lastCounter, counter);
      return false;
    default:
      return true;
  }
}

bool TCounterCollection::CollectProcessor(TObjectType& object, TInstance* instance,
                                          TCounter& counter) {
  if (instance == nullptr || !IsTotal(*instance)) return true;
  const bool show = Settings.ShowPseudoProcesses;
  switch (counter.CounterNameTitleIndex()) {
    case platform::kProcessorTime:
      ProcessorCount = std::max(object.NumInstances() - 1, 1);
      CpuUsageAverage.Add(CounterValue(counter));
      break;
    case platform::kProcessorIdleTime:
      IdleProcess->ProcessorAvg.Add(CounterValue(counter));
      IdleProcess->Touch(show);
      break;
    case platform::kInterruptTime:
      InterruptPercent = CounterValue(counter);
      InterruptsProcess->ProcessorAvg.Add(InterruptPercent);
      InterruptsProcess->Touch(show);
      break;
    case platform::kInterrupts:
      InterruptsProcess->IoRateAvg.Add(CounterValue(counter));
      break;
    case platform::kDpcTime:
      DpcPercent = CounterValue(counter);
      DpcsProcess->ProcessorAvg.Add(DpcPercent);
      DpcsProcess->Touch(show);
      break;
    case platform::kDpcsQueued:
      DpcsProcess->IoRateAvg.Add(CounterValue(counter));
      break;
  }
  return false;
}

bool TCounterCollection::CollectProcess(TInstance* instance, bool lastCounter, TCounter& counter) {
  switch (counter.CounterNameTitleIndex()) {
    case platform::kProcessorTime:
      PendingProcessorPercent = CounterValue(counter) / ProcessorCount;
      break;
    case platform::kWorkingSet:
      PendingWorkingSet = counter.RawValue();
      break;
    case platform::kPrivateBytes:
      PendingPrivateBytes = counter.RawValue();
      break;
    case platform::kIdProcess:
      PendingProcessName = instance != nullptr ? instance->Name() : std::string();
      PendingProcessId = static_cast<std::uint32_t>(counter.RawValue());
      // Neither is a process of its own: the idle time has its pseudo process.
      if (PendingProcessName == "Idle" || PendingProcessName == "_Total") return true;
      break;
    case platform::kIoDataOperations:
      PendingIoOperations = CounterValue(counter);
      break;
    case platform::kIoOtherOperations:
      PendingOtherIoOperations = CounterValue(counter);
      break;
    case platform::kIoDataBytes:
      PendingIoBytes = CounterValue(counter);
      break;
    case platform::kIoOtherBytes:
      PendingOtherIoBytes = CounterValue(counter);
      break;
  }
  if (lastCounter) StoreProcess();
  return false;
}

void TCounterCollection::StoreProcess() {
  TProcessInfo* entity = Tables.FindOrCreateProcess(PendingProcessId, PendingProcessName);
  // With the pseudo processes hidden, interrupt and DPC time are charged to "System".
  if (!Settings.ShowPseudoProcesses && entity == Tables.SystemProcess) {
    entity->ProcessorAvg.Add(PendingProcessorPercent + InterruptPercent + DpcPercent);
  } else {
    entity->ProcessorAvg.Add(PendingProcessorPercent);
  }
  double operations = PendingIoOperations;
  double bytes = PendingIoBytes;
  if (Settings.IncludeOtherIos) {
    operations += PendingOtherIoOperations;
    bytes += PendingOtherIoBytes;
  }
  entity->IoRateAvg.Add(operations);
  entity->IoByteRateAvg.Add(bytes);
  entity->WorkingSetAvg.Add(static_cast<double>(PendingWorkingSet));
  entity->PrivateBytesAvg.Add(static_cast<double>(PendingPrivateBytes));
  entity->Touch(true);
  PendingProcessId = 0;
}

bool TCounterCollection::CollectThread(TInstance* instance, bool lastCounter, TCounter& counter) {
  if (instance != nullptr && IsTotal(*instance)) return true;
  switch (counter.CounterNameTitleIndex()) {
    case platform::kContextSwitches: {
      PendingContextSwitches = 0;
      const std::int64_t now = counter.RawValue();
      const std::int64_t before = counter.PreviousRawValue();
      // A count for the interval, not a rate; a counter that went back (a new thread in
      // the old one's place) counts nothing.
      if (before > 0 && now > before)
        PendingContextSwitches = platform::CheckedCast<std::uint32_t>(now - before);
      break;
    }
    case platform::kIdProcess:
      PendingThreadProcessId = static_cast<std::uint32_t>(counter.RawValue());
      break;
    case platform::kIdThread:
      PendingThreadId = static_cast<std::uint32_t>(counter.RawValue());
      break;
  }
  // Threads with id 0 are the processors' idle threads.
  if (lastCounter && PendingThreadId != 0) ChargeThread();
  return false;
}

void TCounterCollection::ChargeThread() {
  TProcessInfo* entity = LastThreadProcess;
  if (entity == nullptr || entity->ProcessId != PendingThreadProcessId) {
    entity = Tables.FindOrCreateProcess(PendingThreadProcessId, std::string());
    LastThreadProcess = entity;
  }
  // The switches counted since the previous block belong to the whole sampling interval. An
  // entity made later (in this walk, or by an event in between) would take them over its own
  // few milliseconds: its interval starts with the sampling interval instead. It cannot have
  // counted anything before it was made, so its other rates lose nothing.
  if (PendingContextSwitches > 0 &&
      static_cast<std::int32_t>(entity->IntervalStart - SampleIntervalStart) > 0)
    entity->IntervalStart = SampleIntervalStart;
  entity->IntervalContextSwitches = platform::CheckedAdd(
      entity->IntervalContextSwitches, platform::CheckedCast<std::int32_t>(PendingContextSwitches));
  entity->ThreadCount = platform::CheckedAdd(entity->ThreadCount, 1);
}

void TCounterCollection::CollectDiskTotal(bool lastCounter, TCounter& counter) {
  const bool trace = Settings.DiskInuseTrace;
  counter.Trace = trace;
  switch (counter.CounterNameTitleIndex()) {
    case platform::kDiskQueueLength:
      DiskQueueAverage.Add(CounterValue(counter));
      break;
    case platform::kDiskIdleTime:
      LastDiskBusyPercent = std::max(100 - CounterValue(counter), 0.0);
      DiskBusyAverage.Add(LastDiskBusyPercent);
      break;
  }
  counter.Trace = false;
  if (lastCounter && trace) {
    // One blank line closes each sample's computation lines.
    if (LastDiskBusyPercent >= 0 && LastDiskBusyPercent <= 100) {
      TraceFile.WriteLine(" ");
    } else {
      TraceFile.Flush();
    }
  }
}

void TCounterCollection::CollectDisk(TInstance& instance, TCounter& counter) {
  TDiskInfo& disk = *Tables.Disks[platform::CheckedIndex(instance.Tag, Tables.Disks.size())];
  switch (counter.CounterNameTitleIndex()) {
    case platform::kFreeSpace:
      disk.Touch(true);
      disk.FreeSpaceAvg.Add(CounterValue(counter));
      break;
    case platform::kFreeMegabytes:
      disk.FreeMegabytesAvg.Add(Raw(counter));
      break;
    case platform::kDiskQueueLength:
      disk.QueueDepthAvg.Add(CounterValue(counter));
      break;
    case platform::kDiskTransfers:
      disk.IoRateAvg.Add(CounterValue(counter));
      break;
    case platform::kDiskBytes:
      disk.ByteRateAvg.Add(CounterValue(counter));
      break;
    case platform::kDiskIdleTime:
      // A disk new in this block has no idle time to compare yet; 0 idle would read as busy.
      if (counter.HasPrevious())
        disk.BusyPercentAvg.Add(std::max(100 - CounterValue(counter), 0.0));
      break;
  }
}

void TCounterCollection::CollectAdapter(TInstance& instance, bool lastCounter, TCounter& counter) {
  if (instance.Tag < 0)
    instance.Tag = platform::CheckedCast<std::int32_t>(Tables.FindOrCreateAdapter(instance.Name()));
  TAdapterInfo& adapter =
      *Tables.Adapters[platform::CheckedIndex(instance.Tag, Tables.Adapters.size())];
  switch (counter.CounterNameTitleIndex()) {
    case platform::kBytesTotal:
      adapter.Touch(true);
      adapter.IntervalBytes = Delta(counter);
      adapter.ByteRateAvg.Add(CounterValue(counter));
      break;
    case platform::kPackets:
      adapter.PacketRateAvg.Add(CounterValue(counter));
      break;
    case platform::kCurrentBandwidth:
      // Many adapters report no speed (virtual ones, most wireless drivers); their traffic is
      // measured against the bandwidth the user assumes for them.
      adapter.Bandwidth = counter.RawValue() > 0 ? counter.RawValue() : Settings.AssumedBandwidth;
      break;
    case platform::kPacketsReceivedErrors:
      AdapterReceiveErrors = Delta32(counter);
      break;
    case platform::kPacketsOutboundErrors:
      AdapterSendErrors = Delta32(counter);
      break;
  }
  if (lastCounter)
    adapter.ErrorRateAvg.Add(platform::CheckedAdd(AdapterReceiveErrors, AdapterSendErrors));
}

}  // namespace ombrix
