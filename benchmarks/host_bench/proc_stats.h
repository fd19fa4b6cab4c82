// What the kernel counts for a process, summed over its threads.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace electron_morvane::bench {

struct ProcessCounters {
  std::uint64_t contextSwitches = 0;  // voluntary and involuntary: each is a wake-up
  std::uint64_t cpuNanoseconds = 0;   // time on a CPU
};

// Threads that ended between two readings take their counts with them.
ProcessCounters ReadCounters(pid_t pid);

struct IdleUsage {
  double wakeupsPerSecond = 0;
  double cpuPercent = 0;  // of one core
};

IdleUsage UsageBetween(const ProcessCounters& before, const ProcessCounters& after, double seconds);

}  // namespace electron_morvane::bench
