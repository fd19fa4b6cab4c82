// What the kernel counts for a process, summed over its threads.
#pragma once

#include <sys/types.h>

#include <cstdint>

namespace electron_morvane::bench {

struct ProcessCounters {
  // Summed over the threads alive at the reading: one that ended in between takes its counts
  // with it.
  std::uint64_t contextSwitches = 0;  // voluntary and involuntary: each is a wake-up
  std::uint64_t cpuNanoseconds = 0;   // time on a CPU
  // The whole process's CPU time, ended threads included, in clock ticks (10 ms): for work that
  // takes many ticks and ends threads, like a burst from library threads.
  std::uint64_t processCpuNanoseconds = 0;
};

ProcessCounters ReadCounters(pid_t pid);

inline double Grown(std::uint64_t before, std::uint64_t after) {
  return after > before ? static_cast<double>(after - before) : 0.0;
}
// CPU time of the threads alive at both readings.
inline double CpuMicroseconds(const ProcessCounters& before, const ProcessCounters& after) {
  return Grown(before.cpuNanoseconds, after.cpuNanoseconds) / 1e3;
}
inline double ProcessCpuMicroseconds(const ProcessCounters& before, const ProcessCounters& after) {
  return Grown(before.processCpuNanoseconds, after.processCpuNanoseconds) / 1e3;
}

struct IdleUsage {
  double wakeupsPerSecond = 0;
  double cpuPercent = 0;  // of one core
};

IdleUsage UsageBetween(const ProcessCounters& before, const ProcessCounters& after, double seconds);

}  // namespace electron_morvane::bench
