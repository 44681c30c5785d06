// The name indexes of the objects and counters in the performance data blocks: what the
// provider writes, what the counter collection reads and what the English name table names.
// Defined here alone; everything else uses these names.
#pragma once
#include <cstdint>

namespace platform {

enum PerfObjectIndex : std::uint32_t {
  kObjSystem = 2,
  kObjMemory = 4,
  kObjProcess = 230,
  kObjThread = 232,
  kObjLogicalDisk = 236,
  kObjProcessor = 238,
  kObjNetworkInterface = 510,
};

enum PerfCounterIndex : std::uint32_t {
  kProcessorTime = 6,            // % Processor Time (Processor and Process)
  kAvailableBytes = 24,          // Memory
  kPageReads = 42,               // Memory, per second
  kProcessorQueueLength = 44,    // System
  kPageWrites = 50,              // Memory, per second
  kContextSwitches = 146,        // Thread, per second
  kInterrupts = 148,             // Processor, per second
  kWorkingSet = 180,             // Process
  kPrivateBytes = 186,           // Process
  kDiskQueueLength = 198,        // LogicalDisk: current disk queue length
  kDiskTransfers = 212,          // LogicalDisk, per second
  kDiskBytes = 218,              // LogicalDisk, per second
  kBytesTotal = 388,             // Network Interface, per second
  kPackets = 400,                // Network Interface, per second
  kFreeSpace = 408,              // LogicalDisk: % free space
  kFreeMegabytes = 410,          // LogicalDisk
  kCurrentBandwidth = 520,       // Network Interface
  kPacketsReceivedErrors = 530,  // Network Interface
  kPacketsOutboundErrors = 542,  // Network Interface
  kDpcTime = 696,                // Processor: % DPC time
  kInterruptTime = 698,          // Processor: % interrupt time
  kIdProcess = 784,              // Process and Thread
  kIdThread = 804,               // Thread
  kDpcsQueued = 1334,            // Processor, per second
  kIoDataOperations = 1416,      // Process, per second
  kIoOtherOperations = 1418,     // Process, per second
  kIoDataBytes = 1424,           // Process, per second
  kIoOtherBytes = 1426,          // Process, per second
  kDiskIdleTime = 1482,          // LogicalDisk: % idle time
  kProcessorIdleTime = 1746,     // Processor: % idle time
};

}  // namespace platform
