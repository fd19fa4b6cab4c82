#include "fatal_faults.h"

#include <chrono>
#include <cstdint>
#include <thread>

namespace electron_morvane::sim {

namespace {

// Read through a volatile, the pointer is unknown to the compiler: the write can be neither left
// out nor replaced by a trap instruction, so the fault is a real invalid memory access. An address
// in the lowest page, which no process maps on Linux or Windows, rather than null: the
// undefined-behaviour checker stops a store through null before it faults, and the crash would
// then be the checker's exit, not the access violation.
int* volatile nowhere = reinterpret_cast<int*>(std::uintptr_t{64});

}  // namespace

void CrashWithInvalidAccess() { *nowhere = 1; }

void HangForever() {
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}

}  // namespace electron_morvane::sim
