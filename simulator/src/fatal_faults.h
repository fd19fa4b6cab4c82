// The faults a bridge process exists to survive: a crash and a thread that never comes back.
#pragma once

namespace electron_morvane::sim {

// Writes through a null pointer: the process dies of SIGSEGV on Linux, of an access violation
// (0xC0000005) on Windows.
void CrashWithInvalidAccess();

// Blocks the calling thread for good.
[[noreturn]] void HangForever();

}  // namespace electron_morvane::sim
