#include "monitor/perfdata/CollectCounter.h"

#include <algorithm>

#include "monitor/diagnostics/TextFile.h"
#include "monitor/model/Tables.h"
#include "monitor/settings/Settings.h"
#include "platform/checked/Checked.h"

namespace ombrix {

namespace {

// Object name indexes.
constexpr std::uint32_t SystemObject = 2;
constexpr std::uint32_t MemoryObject = 4;
constexpr std::uint32_t ProcessorObject = 238;
constexpr std::uint32_t ProcessObject = 230;
constexpr std::uint32_t ThreadObject = 232;
constexpr std::uint32_t LogicalDiskObject = 236;
constexpr std::uint32_t NetworkInterfaceObject = 510;

// Counter name indexes.
constexpr std::uint32_t ProcessorQueueLength = 44;
constexpr std::uint32_t AvailableBytes = 24;
constexpr std::uint32_t PageReads = 42;
constexpr std::uint32_t PageWrites = 50;
constexpr std::uint32_t ProcessorTime = 6;
constexpr std::uint32_t IdleTime = 1746;
constexpr std::uint32_t InterruptTime = 698;
constexpr std::uint32_t InterruptsPerSec = 148;
constexpr std::uint32_t DpcTime = 696;
constexpr std::uint32_t DpcRate = 1334;
constexpr std::uint32_t WorkingSet = 180;
constexpr std::uint32_t PrivateBytes = 186;
constexpr std::uint32_t IdProcess = 784;
constexpr std::uint32_t IoOperations = 1416;
constexpr std::uint32_t OtherIoOperations = 1418;
constexpr std::uint32_t IoBytes = 1424;
constexpr std::uint32_t OtherIoBytes = 1426;
constexpr std::uint32_t ContextSwitches = 146;
constexpr std::uint32_t IdThread = 804;
constexpr std::uint32_t DiskQueueLength = 198;
constexpr std::uint32_t DiskIdleTime = 1482;
constexpr std::uint32_t FreeSpace = 408;
constexpr std::uint32_t FreeMegabytes = 410;
constexpr std::uint32_t Transfers = 212;
constexpr std::uint32_t DiskBytes = 218;
constexpr std::uint32_t TotalBytes = 388;
constexpr std::uint32_t Packets = 400;
constexpr std::uint32_t Bandwidth = 520;
constexpr std::uint32_t ReceiveErrors = 530;
constexpr std::uint32_t SendErrors = 542;

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
  for (std::uint32_t i = 0; i < 6; ++i)
    if (name[2 * i] != Total[i] || name[2 * i + 1] != 0) return false;
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
    case SystemObject:
      if (counter.CounterNameTitleIndex() == ProcessorQueueLength)
        CpuQueueAverage->Add(Raw(counter));
      return false;
    case MemoryObject:
      switch (counter.CounterNameTitleIndex()) {
        case AvailableBytes:
          Memory->AvailableAvg.Add(Raw(counter));
          break;
        case PageReads:
          Memory->PageReadRateAvg.Add(CounterValue(counter));
          break;
        case PageWrites:
          Memory->PageWriteRateAvg.Add(CounterValue(counter));
          break;
      }
      return false;
    case ProcessorObject:
      return CollectProcessor(object, instance, counter);
    case ProcessObject:
      return CollectProcess(instance, lastCounter, counter);
    case ThreadObject:
      return CollectThread(instance, lastCounter, counter);
    case LogicalDiskObject:
      if (instance == nullptr) return false;
      if (instance->Tag == TagUnchecked) {
        const std::string name = instance->Name();
        instance->Tag = name == "_Total"
                            ? TagTotal
                            : platform::CheckedCast<std::int32_t>(Tables->FindOrCreateDisk(name));
      }
      if (instance->Tag == TagTotal) {
        CollectDiskTotal(lastCounter, counter);
      } else {
        CollectDisk(*instance, counter);
      }
      return false;
    case NetworkInterfaceObject:
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
    case ProcessorTime:
      ProcessorCount = std::max(object.NumInstances() - 1, 1);
      CpuUsageAverage->Add(CounterValue(counter));
      break;
    case IdleTime:
      IdleProcess->ProcessorAvg.Add(CounterValue(counter));
      IdleProcess->Touch(show);
      break;
    case InterruptTime:
      InterruptPercent = CounterValue(counter);
      InterruptsProcess->ProcessorAvg.Add(InterruptPercent);
      InterruptsProcess->Touch(show);
      break;
    case InterruptsPerSec:
      InterruptsProcess->IoRateAvg.Add(CounterValue(counter));
      break;
    case DpcTime:
      DpcPercent = CounterValue(counter);
      DpcsProcess->ProcessorAvg.Add(DpcPercent);
      DpcsProcess->Touch(show);
      break;
    case DpcRate:
      DpcsProcess->IoRateAvg.Add(CounterValue(counter));
      break;
  }
  return false;
}

bool TCounterCollection::CollectProcess(TInstance* instance, bool lastCounter, TCounter& counter) {
  switch (counter.CounterNameTitleIndex()) {
    case ProcessorTime:
      PendingProcessorPercent = CounterValue(counter) / ProcessorCount;
      break;
    case WorkingSet:
      PendingWorkingSet = counter.RawValue();
      break;
    case PrivateBytes:
      PendingPrivateBytes = counter.RawValue();
      break;
    case IdProcess:
      PendingProcessName = instance != nullptr ? instance->Name() : std::string();
      PendingProcessId = static_cast<std::uint32_t>(counter.RawValue());
      // Neither is a process of its own: the idle time has its pseudo process.
      if (PendingProcessName == "Idle" || PendingProcessName == "_Total") return true;
      break;
    case IoOperations:
      PendingIoOperations = CounterValue(counter);
      break;
    case OtherIoOperations:
      PendingOtherIoOperations = CounterValue(counter);
      break;
    case IoBytes:
      PendingIoBytes = CounterValue(counter);
      break;
    case OtherIoBytes:
      PendingOtherIoBytes = CounterValue(counter);
      break;
  }
  if (lastCounter) StoreProcess();
  return false;
}

void TCounterCollection::StoreProcess() {
  TProcessInfo* entity = Tables->FindOrCreateProcess(PendingProcessId, PendingProcessName);
  // With the pseudo processes hidden, interrupt and DPC time are charged to "System".
  if (!Settings.ShowPseudoProcesses && entity == Tables->SystemProcess) {
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
    case ContextSwitches: {
      PendingContextSwitches = 0;
      const std::int64_t now = counter.RawValue();
      const std::int64_t before = counter.PreviousRawValue();
      // A count for the interval, not a rate; a counter that went back (a new thread in
      // the old one's place) counts nothing.
      if (before > 0 && now > before)
        PendingContextSwitches = platform::CheckedCast<std::uint32_t>(now - before);
      break;
    }
    case IdProcess:
      PendingThreadProcessId = static_cast<std::uint32_t>(counter.RawValue());
      break;
    case IdThread:
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
    entity = Tables->FindOrCreateProcess(PendingThreadProcessId, std::string());
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
    case DiskQueueLength:
      DiskQueueAverage->Add(CounterValue(counter));
      break;
    case DiskIdleTime:
      LastDiskBusyPercent = std::max(100 - CounterValue(counter), 0.0);
      DiskBusyAverage->Add(LastDiskBusyPercent);
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
  TDiskInfo& disk = *Tables->Disks[platform::CheckedIndex(instance.Tag, Tables->Disks.size())];
  switch (counter.CounterNameTitleIndex()) {
    case FreeSpace:
      disk.Touch(true);
      disk.FreeSpaceAvg.Add(CounterValue(counter));
      break;
    case FreeMegabytes:
      disk.FreeMegabytesAvg.Add(Raw(counter));
      break;
    case DiskQueueLength:
      disk.QueueDepthAvg.Add(CounterValue(counter));
      break;
    case Transfers:
      disk.IoRateAvg.Add(CounterValue(counter));
      break;
    case DiskBytes:
      disk.ByteRateAvg.Add(CounterValue(counter));
      break;
    case DiskIdleTime:
      // A disk new in this block has no idle time to compare yet; 0 idle would read as busy.
      if (counter.HasPrevious())
        disk.BusyPercentAvg.Add(std::max(100 - CounterValue(counter), 0.0));
      break;
  }
}

void TCounterCollection::CollectAdapter(TInstance& instance, bool lastCounter, TCounter& counter) {
  if (instance.Tag < 0)
    instance.Tag =
        platform::CheckedCast<std::int32_t>(Tables->FindOrCreateAdapter(instance.Name()));
  TAdapterInfo& adapter =
      *Tables->Adapters[platform::CheckedIndex(instance.Tag, Tables->Adapters.size())];
  switch (counter.CounterNameTitleIndex()) {
    case TotalBytes:
      adapter.Touch(true);
      adapter.IntervalBytes = Delta(counter);
      adapter.ByteRateAvg.Add(CounterValue(counter));
      break;
    case Packets:
      adapter.PacketRateAvg.Add(CounterValue(counter));
      break;
    case Bandwidth:
      // Many adapters report no speed (virtual ones, most wireless drivers); their traffic is
      // measured against the bandwidth the user assumes for them.
      adapter.Bandwidth = counter.RawValue() > 0 ? counter.RawValue() : Settings.AssumedBandwidth;
      break;
    case ReceiveErrors:
      AdapterReceiveErrors = Delta32(counter);
      break;
    case SendErrors:
      AdapterSendErrors = Delta32(counter);
      break;
  }
  if (lastCounter)
    adapter.ErrorRateAvg.Add(platform::CheckedAdd(AdapterReceiveErrors, AdapterSendErrors));
}

}  // namespace ombrix
