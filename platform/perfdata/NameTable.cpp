#include "platform/perfdata/NameTable.h"

#include <iterator>

namespace platform {

namespace {

struct Entry {
  std::uint32_t index;
  const char* name;
  const char* help;
};

constexpr Entry kEntries[] = {
    {kObjSystem, "System", "Counters that apply to the whole machine."},
    {kObjMemory, "Memory", "Physical and virtual memory of the machine."},
    {kProcessorTime, "% Processor Time",
     "Share of the elapsed time that the processor spent busy."},
    {kAvailableBytes, "Available Bytes", "Physical memory available to processes, in bytes."},
    {kPageReads, "Page Reads/sec", "Read operations per second that resolved hard page faults."},
    {kProcessorQueueLength, "Processor Queue Length", "Runnable threads waiting for a processor."},
    {kPageWrites, "Page Writes/sec", "Pages written to the swap area per second."},
    {kContextSwitches, "Context Switches/sec", "Switches of the processor to or from this thread."},
    {kInterrupts, "Interrupts/sec", "Hardware interrupts serviced per second."},
    {kWorkingSet, "Working Set", "Resident memory of the process, in bytes."},
    {kPrivateBytes, "Private Bytes",
     "Memory of the process that no other process shares, in bytes."},
    {kDiskQueueLength, "Current Disk Queue Length",
     "Mean number of requests in flight on the disk."},
    {kDiskTransfers, "Disk Transfers/sec", "Read and write operations completed per second."},
    {kDiskBytes, "Disk Bytes/sec", "Bytes read and written per second."},
    {kObjProcess, "Process", "Running programs."},
    {kObjThread, "Thread", "Threads of the running programs."},
    {kObjLogicalDisk, "LogicalDisk", "Mounted file systems on block devices."},
    {kObjProcessor, "Processor", "Processors of the machine, and their total."},
    {kBytesTotal, "Bytes Total/sec", "Bytes received and sent per second."},
    {kPackets, "Packets/sec", "Packets received and sent per second."},
    {kFreeSpace, "% Free Space", "Share of the usable space of the file system that is free."},
    {kFreeMegabytes, "Free Megabytes", "Free space available to users, in megabytes."},
    {kObjNetworkInterface, "Network Interface", "Network adapters, loopback excluded."},
    {kCurrentBandwidth, "Current Bandwidth",
     "Link speed of the adapter in bits per second; 0 when unknown."},
    {kPacketsReceivedErrors, "Packets Received Errors", "Received packets with errors."},
    {kPacketsOutboundErrors, "Packets Outbound Errors",
     "Packets that could not be sent because of errors."},
    {kDpcTime, "% DPC Time", "Share of the time spent in deferred (soft) interrupt handling."},
    {kInterruptTime, "% Interrupt Time", "Share of the time spent in hardware interrupt handling."},
    {kIdProcess, "ID Process", "Identifier of the process."},
    {kIdThread, "ID Thread", "Identifier of the thread."},
    {kDpcsQueued, "DPCs Queued/sec", "Deferred (soft) interrupts raised per second."},
    {kIoDataOperations, "IO Data Operations/sec",
     "Read and write calls of the process per second."},
    {kIoOtherOperations, "IO Other Operations/sec",
     "Other input/output calls per second; always 0 here."},
    {kIoDataBytes, "IO Data Bytes/sec", "Bytes read and written by the process per second."},
    {kIoOtherBytes, "IO Other Bytes/sec",
     "Bytes of other input/output calls per second; always 0 here."},
    {kDiskIdleTime, "% Idle Time", "Share of the time that the disk was idle."},
    {kProcessorIdleTime, "% Idle Time", "Share of the time that the processor was idle."},
};

std::string Build(bool help) {
  std::string t;
  for (const Entry& e : kEntries) {
    t += std::to_string(help ? e.index + 1 : e.index);
    t += '\0';
    t += help ? e.help : e.name;
    t += '\0';
  }
  t += '\0';
  return t;
}

}  // namespace

const std::string& CounterNamesValue() {
  static const std::string table = Build(false);
  return table;
}

const std::string& HelpTextsValue() {
  static const std::string table = Build(true);
  return table;
}

const char* EnglishNameOf(std::uint32_t index) {
  for (const Entry& e : kEntries)
    if (e.index == index) return e.name;
  return nullptr;
}

}  // namespace platform
