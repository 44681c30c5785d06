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

}  // namespace platform
