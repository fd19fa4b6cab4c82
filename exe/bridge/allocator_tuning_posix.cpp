#include <malloc.h>

#include "bridge/allocator_tuning.h"

namespace electron_morvane {

// Blocks up to 32 MiB come from the heap and are reused; up to 64 MiB of free heap is kept
// rather than given back at once. Larger lines still get memory of their own.
void TuneAllocatorForLargeLines() {
  mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 64 * 1024 * 1024);
}

}  // namespace electron_morvane
