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
    {2, "System", "Counters that apply to the whole machine."},
    {4, "Memory", "Physical and virtual memory of the machine."},
    {6, "% Processor Time", "Share of the elapsed time that the processor spent busy."},
    {24, "Available Bytes", "Physical memory available to processes, in bytes."},
    {42, "Page Reads/sec", "Read operations per second that resolved hard page faults."},
    {44, "Processor Queue Length", "Runnable threads waiting for a processor."},
    {50, "Page Writes/sec", "Pages written to the swap area per second."},
    {146, "Context Switches/sec", "Switches of the processor to or from this thread."},
    {148, "Interrupts/sec", "Hardware interrupts serviced per second."},
    {180, "Working Set", "Resident memory of the process, in bytes."},
    {186, "Private Bytes", "Memory of the process that no other process shares, in bytes."},
    {198, "Current Disk Queue Length", "Mean number of requests in flight on the disk."},
    {212, "Disk Transfers/sec", "Read and write operations completed per second."},
    {218, "Disk Bytes/sec", "Bytes read and written per second."},
    {230, "Process", "Running programs."},
    {232, "Thread", "Threads of the running programs."},
    {236, "LogicalDisk", "Mounted file systems on block devices."},
    {238, "Processor", "Processors of the machine, and their total."},
    {388, "Bytes Total/sec", "Bytes received and sent per second."},
    {400, "Packets/sec", "Packets received and sent per second."},
    {408, "% Free Space", "Share of the usable space of the file system that is free."},
    {410, "Free Megabytes", "Free space available to users, in megabytes."},
    {510, "Network Interface", "Network adapters, loopback excluded."},
    {520, "Current Bandwidth", "Link speed of the adapter in bits per second; 0 when unknown."},
    {530, "Packets Received Errors", "Received packets with errors."},
    {542, "Packets Outbound Errors", "Packets that could not be sent because of errors."},
    {696, "% DPC Time", "Share of the time spent in deferred (soft) interrupt handling."},
    {698, "% Interrupt Time", "Share of the time spent in hardware interrupt handling."},
    {784, "ID Process", "Identifier of the process."},
    {804, "ID Thread", "Identifier of the thread."},
    {1334, "DPCs Queued/sec", "Deferred (soft) interrupts raised per second."},
    {1416, "IO Data Operations/sec", "Read and write calls of the process per second."},
    {1418, "IO Other Operations/sec", "Other input/output calls per second; always 0 here."},
    {1424, "IO Data Bytes/sec", "Bytes read and written by the process per second."},
    {1426, "IO Other Bytes/sec", "Bytes of other input/output calls per second; always 0 here."},
    {1482, "% Idle Time", "Share of the time that the disk was idle."},
    {1746, "% Idle Time", "Share of the time that the processor was idle."},
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
