// How fast the router turns lines into replies, without any pipe.
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/message_router.h"

namespace electron_morvane {
namespace {

void DispatchUnknownEvent(benchmark::State& state) {
  MessageRouter router;
  std::size_t written = 0;
  router.SetSender([&](const std::string& line) { written += line.size(); });
  const std::string line =
      R"({"type":"event","from":"host","to":"client","id":"1","method":"nope","params":{"a":[1,2,3],"b":"text"}})"
      "\n";
  for (auto _ : state) router.Dispatch(line);
  benchmark::DoNotOptimize(written);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DispatchUnknownEvent);

void DispatchMalformedLine(benchmark::State& state) {
  MessageRouter router;
  router.SetSender([](const std::string&) {});
  const std::string line = "{\"type\":\"request\",\"id\":\n";
  for (auto _ : state) router.Dispatch(line);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DispatchMalformedLine);

}  // namespace
}  // namespace electron_morvane
