#include "fatal_faults.h"

#include <chrono>
#include <thread>

namespace electron_morvane::sim {

namespace {

// Read through a volatile, the pointer is unknown to the compiler: the write can be neither left
// out nor replaced by a trap instruction, so the fault is a real invalid memory access.
int* volatile nowhere = nullptr;

}  // namespace

void CrashWithInvalidAccess() { *nowhere = 1; }

void HangForever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace electron_morvane::sim
