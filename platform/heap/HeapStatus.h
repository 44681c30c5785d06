// The memory manager's figures, in the terms the diagnostic report prints them.
#pragma once
#include <cstdint>

namespace platform {

struct HeapStatus {
  std::uint64_t TotalAddrSpace = 0;
  std::uint64_t TotalUncommitted = 0;
  std::uint64_t TotalCommitted = 0;
  std::uint64_t TotalAllocated = 0;
  std::uint64_t TotalFree = 0;
  std::uint64_t FreeSmall = 0;
  std::uint64_t FreeBig = 0;
  std::uint64_t Unused = 0;
  std::uint64_t Overhead = 0;
  std::uint64_t HeapErrorCode = 0;
};

HeapStatus GetHeapStatus();

// One heap for every thread: the allocator otherwise gives each thread that allocates an arena
// of its own, megabytes that a monitor with one busy extra thread does not need.
void UseOneHeap();
// Gives the heap's free memory back to the system (after a start-up that needed much of it once).
void ReturnFreeHeap();

}  // namespace platform
