#include "options.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>

namespace electron_morvane::bench {
namespace {

constexpr char kUsage[] =
    "usage: morvane_host_bench [options]\n"
    "Measures the real bridge over a real Unix socket against a raw peer that reads with the\n"
    "bridge's discipline, in interleaved rounds, and prints medians with ratios and targets.\n"
    "\n"
    "  --bridge PATH          bridge executable (default: the one this build made)\n"
    "  --scriptable-dir DIR   folder of the scriptable libMorvaneSdk.so (default: the build's,\n"
    "                         or ../scriptable beside --bridge's folder)\n"
    "  --rounds N             interleaved rounds (default 5)\n"
    "  --requests N           pipelined getSdkVersion requests per round (default 100000)\n"
    "  --round-trips N        one-at-a-time requests per round (default 10000)\n"
    "  --body-bytes N         size of the httpRequest answer's body (default 1048576)\n"
    "  --body-count N         answers with a body per round (default 10)\n"
    "  --log-threads N        library threads firing log lines (default 4)\n"
    "  --log-count N          log lines per thread (default 50000)\n"
    "  --idle-seconds S       how long the idle figures watch (default 2)\n"
    "  --flood-threads N      library threads logging nonstop beside requests (default 32)\n"
    "  --flood-round-trips N  requests with and without that flood per round (default 2000)\n"
    "  --only LIST            comma-separated: pipelined,roundtrip,body,logs,idle,flood\n"
    "  --strict               exit with 2 when a target is missed\n";

[[noreturn]] void Usage(const std::string& problem) {
  if (!problem.empty()) std::fprintf(stderr, "morvane_host_bench: %s\n\n", problem.c_str());
  std::fputs(kUsage, problem.empty() ? stdout : stderr);
  std::exit(problem.empty() ? 0 : 87);
}

std::size_t Count(const std::string& name, const std::string& text, std::size_t minimum) {
  try {
    std::size_t used = 0;
    const unsigned long long value = std::stoull(text, &used);
    if (used == text.size() && value >= minimum) return static_cast<std::size_t>(value);
  } catch (const std::exception&) {
  }
  Usage(name + " needs a whole number of at least " + std::to_string(minimum));
}

std::set<std::string> FigureList(const std::string& text) {
  std::set<std::string> figures;
  std::stringstream items(text);
  std::string item;
  while (std::getline(items, item, ',')) {
    bool known = false;
    for (const char* name : kFigureNames) known = known || item == name;
    if (!known) Usage("unknown figure " + item);
    figures.insert(item);
  }
  return figures;
}

}  // namespace

Options ParseOptions(int argc, char** argv) {
  Options options;
  options.bridge = MORVANE_BENCH_BRIDGE;
  bool scriptableGiven = false;
  bool bridgeGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "--help" || name == "-h") Usage("");
    if (name == "--strict") {
      options.strict = true;
      continue;
    }
    if (i + 1 >= argc) Usage(name + " needs a value");
    const std::string value = argv[++i];
    if (name == "--bridge") {
      options.bridge = value;
      bridgeGiven = true;
    } else if (name == "--scriptable-dir") {
      options.scriptableDir = value;
      scriptableGiven = true;
    } else if (name == "--rounds") {
      options.rounds = static_cast<int>(Count(name, value, 1));
    } else if (name == "--requests") {
      options.requests = Count(name, value, 1);
    } else if (name == "--round-trips") {
      options.roundTrips = Count(name, value, 1);
    } else if (name == "--body-bytes") {
      options.bodyBytes = Count(name, value, 1);
    } else if (name == "--body-count") {
      options.bodyCount = Count(name, value, 1);
    } else if (name == "--log-threads") {
      options.logThreads = static_cast<std::uint32_t>(Count(name, value, 1));
    } else if (name == "--log-count") {
      options.logCount = static_cast<std::uint32_t>(Count(name, value, 1));
    } else if (name == "--idle-seconds") {
      options.idleSeconds = static_cast<double>(Count(name, value, 1));
    } else if (name == "--flood-threads") {
      options.floodThreads = static_cast<std::uint32_t>(Count(name, value, 1));
    } else if (name == "--flood-round-trips") {
      options.floodRoundTrips = Count(name, value, 1);
    } else if (name == "--only") {
      options.figures = FigureList(value);
    } else {
      Usage("unknown option " + name);
    }
  }
  if (!scriptableGiven) {
    namespace fs = std::filesystem;
    const fs::path besideBridge =
        fs::path(options.bridge).parent_path().parent_path() / "scriptable";
    options.scriptableDir = bridgeGiven && fs::exists(besideBridge / "libMorvaneSdk.so")
                                ? besideBridge.string()
                                : std::string(MORVANE_BENCH_SCRIPTABLE_DIR);
  }
  return options;
}

}  // namespace electron_morvane::bench
