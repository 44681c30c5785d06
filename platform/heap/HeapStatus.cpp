#include "platform/heap/HeapStatus.h"

#include <malloc.h>

namespace platform {

// glibc's mallinfo2 mapped onto the report's figures:
//   address space = committed = arena (heap obtained with brk/sbrk) + hblkhd (mmapped blocks);
//     glibc has no reserved-but-uncommitted state, so uncommitted is 0;
//   allocated     = uordblks (in use from the arenas) + hblkhd (mmapped blocks are all in use);
//   free          = fordblks, split into fsmblks (fastbin blocks, the small ones) and the rest;
//   unused        = keepcost, the top chunk held from the system but releasable;
//   overhead and error code: glibc reports neither, so 0.
HeapStatus GetHeapStatus() {
  const struct mallinfo2 info = mallinfo2();
  HeapStatus s;
  s.TotalAddrSpace = info.arena + info.hblkhd;
  s.TotalCommitted = s.TotalAddrSpace;
  s.TotalAllocated = info.uordblks + info.hblkhd;
  s.TotalFree = info.fordblks;
  s.FreeSmall = info.fsmblks;
  s.FreeBig = info.fordblks >= info.fsmblks ? info.fordblks - info.fsmblks : 0;
  s.Unused = info.keepcost;
  return s;
}

void UseOneHeap() {
  mallopt(M_ARENA_MAX, 1);
}

void ReturnFreeHeap() {
  malloc_trim(0);
}

}  // namespace platform
