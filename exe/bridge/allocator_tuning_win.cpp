#include "bridge/allocator_tuning.h"

namespace electron_morvane {

// The process heap has no such setting: there large blocks still come from the system each time.
void TuneAllocatorForLargeLines() {}

}  // namespace electron_morvane
