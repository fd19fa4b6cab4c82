#include "proc_stats.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>

namespace electron_morvane::bench {
namespace {

std::uint64_t SwitchesOf(const std::filesystem::path& task) {
  std::ifstream status(task / "status");
  std::uint64_t total = 0;
  std::string line;
  while (std::getline(status, line)) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string key = line.substr(0, colon);
    if (key == "voluntary_ctxt_switches" || key == "nonvoluntary_ctxt_switches") {
      total += std::stoull(line.substr(colon + 1));
    }
  }
  return total;
}

// utime + stime from a stat file, in nanoseconds.
std::uint64_t TickCpuNanosecondsOf(const std::filesystem::path& entry) {
  std::ifstream statFile(entry / "stat");
  std::string text((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const auto close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  std::uint64_t utime = 0;
  std::uint64_t stime = 0;
  // After the command: state is field 3; utime and stime are fields 14 and 15.
  for (int index = 3; index <= 15 && fields >> field; ++index) {
    if (index == 14) utime = std::stoull(field);
    if (index == 15) stime = std::stoull(field);
  }
  return (utime + stime) * 1000000000ull / static_cast<std::uint64_t>(::sysconf(_SC_CLK_TCK));
}

// schedstat counts nanoseconds; stat's utime and stime only clock ticks (10 ms), too coarse for
// a process that is meant to use almost nothing.
std::uint64_t CpuNanosecondsOf(const std::filesystem::path& task) {
  std::ifstream schedstat(task / "schedstat");
  std::uint64_t onCpu = 0;
  if (schedstat >> onCpu) return onCpu;
  return TickCpuNanosecondsOf(task);
}

}  // namespace

ProcessCounters ReadCounters(pid_t pid) {
  namespace fs = std::filesystem;
  ProcessCounters counters;
  std::error_code error;
  for (const auto& task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
    counters.contextSwitches += SwitchesOf(task.path());
    counters.cpuNanoseconds += CpuNanosecondsOf(task.path());
  }
  if (error) throw std::runtime_error("cannot read /proc for process " + std::to_string(pid));
  counters.processCpuNanoseconds = TickCpuNanosecondsOf("/proc/" + std::to_string(pid));
  return counters;
}

IdleUsage UsageBetween(const ProcessCounters& before, const ProcessCounters& after,
                       double seconds) {
  IdleUsage usage;
  usage.wakeupsPerSecond = Grown(before.contextSwitches, after.contextSwitches) / seconds;
  usage.cpuPercent = Grown(before.cpuNanoseconds, after.cpuNanoseconds) / 1e9 / seconds * 100.0;
  return usage;
}

}  // namespace electron_morvane::bench
