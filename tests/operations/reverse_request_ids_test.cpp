// Library threads make reverse requests at the same time; each must get an id of its own, or the
// host would answer one request in place of another.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "services/reverse_request.h"

namespace electron_morvane {
namespace {

TEST(ReverseRequestIds, ThreadsTakingIdsAtOnceNeverShareOne) {
  constexpr int kThreads = 4;
  constexpr int kEach = 100000;
  std::vector<std::vector<std::uint64_t>> taken(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&taken, t] {
      taken[t].reserve(kEach);
      for (int i = 0; i < kEach; ++i) taken[t].push_back(std::stoull(nextRequestId()));
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::vector<std::uint64_t> all;
  for (const auto& ids : taken) all.insert(all.end(), ids.begin(), ids.end());
  std::sort(all.begin(), all.end());
  const auto duplicates = static_cast<std::size_t>(
      all.size() - static_cast<std::size_t>(std::unique(all.begin(), all.end()) - all.begin()));
  EXPECT_EQ(duplicates, 0u) << "ids given twice among " << kThreads * kEach;
  // And none skipped: the ids run on one after the other.
  EXPECT_EQ(all.back() - all.front() + 1, static_cast<std::uint64_t>(kThreads) * kEach - duplicates);
}

}  // namespace
}  // namespace electron_morvane
