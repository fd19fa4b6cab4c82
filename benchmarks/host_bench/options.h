// What to measure and how often, from the command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

namespace electron_morvane::bench {

struct Options {
  std::string bridge;         // the bridge executable
  std::string scriptableDir;  // the folder of the scriptable libMorvaneSdk.so
  int rounds = 5;
  std::size_t requests = 100000;   // pipelined requests per round
  std::size_t roundTrips = 10000;  // one-at-a-time requests per round
  std::size_t bodyBytes = 1 << 20;
  std::size_t bodyCount = 10;  // answers with a body per round
  std::uint32_t logThreads = 4;
  std::uint32_t logCount = 50000;  // lines per thread
  double idleSeconds = 2.0;
  std::uint32_t floodThreads = 32;     // library threads logging nonstop beside the requests
  std::size_t floodRoundTrips = 2000;  // one-at-a-time requests, with and without the flood
  std::set<std::string> figures;  // empty: all
  bool strict = false;            // exit 2 when a target is missed

  bool Wants(const std::string& figure) const {
    return figures.empty() || figures.count(figure) != 0;
  }
};

inline constexpr const char* kFigureNames[] = {"pipelined", "roundtrip", "body",
                                               "logs",      "idle",      "flood"};

// Exits with a message on --help or a bad argument.
Options ParseOptions(int argc, char** argv);

}  // namespace electron_morvane::bench
