// The loop around partial system reads and writes, shared by both platforms: it goes on after a
// part, stops at a failure keeping the count, and never spins on a transfer that moves nothing.
#include "transport/transfer_all.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace electron_morvane::platform {
namespace {

using Step = StepResult;

struct TransferCase {
  std::string name;
  std::size_t size;
  std::vector<Step> steps;  // what each system call does, in turn
  bool ok;
  SystemError error;
  std::size_t bytes;
  std::size_t calls;
};

void PrintTo(const TransferCase& c, std::ostream* out) { *out << c.name; }

class TransferAllTest : public testing::TestWithParam<TransferCase> {};

TEST_P(TransferAllTest, MovesEverythingOrStopsWithTheReason) {
  const TransferCase& c = GetParam();
  std::vector<std::size_t> offsets;
  const TransferResult outcome = TransferAll(c.size, [&](std::size_t done) {
    offsets.push_back(done);
    // A loop that asks again once the script is over would spin on a real pipe.
    if (offsets.size() > c.steps.size()) return Step{false, 9999, 0};
    return c.steps[offsets.size() - 1];
  });
  EXPECT_EQ(outcome.ok, c.ok);
  EXPECT_EQ(outcome.error, c.error);
  EXPECT_EQ(outcome.bytes, c.bytes);
  EXPECT_EQ(offsets.size(), c.calls);
  // Each call starts where the last one ended.
  std::size_t expected = 0;
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    EXPECT_EQ(offsets[i], expected) << "call " << i;
    if (i < c.steps.size()) expected += c.steps[i].moved;
  }
}

INSTANTIATE_TEST_SUITE_P(
    PartialTransfers, TransferAllTest,
    testing::Values(
        TransferCase{"AllAtOnce", 5, {{true, 0, 5}}, true, kErrorSuccess, 5, 1},
        TransferCase{"InParts", 5, {{true, 0, 2}, {true, 0, 2}, {true, 0, 1}}, true, kErrorSuccess,
                     5, 3},
        TransferCase{"NothingToMove", 0, {}, true, kErrorSuccess, 0, 0},
        TransferCase{"NoProgressIsAFailureNotASpin", 5, {{true, 0, 2}, {true, 0, 0}}, false,
                     kErrorBrokenPipe, 2, 2},
        TransferCase{"AFailureKeepsTheCountSoFar", 5, {{true, 0, 3}, {false, 232, 0}}, false, 232,
                     3, 2}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace electron_morvane::platform
