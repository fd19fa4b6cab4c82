// The results of checks that depend on a line alone, kept by the line's text so that a line seen
// before costs one lookup. libFuzzer's mutations keep most lines of the input they start from,
// and the bridge writes the same answer to the same line, so most lines have been seen before.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>

namespace electron_morvane::fuzz {

template <typename Result>
class LineMemo {
 public:
  explicit LineMemo(std::size_t byteBudget) : byteBudget(byteBudget) {}

  // The result for `line`, from `compute(line)` the first time. It stays valid until the next
  // ForgetIfFull.
  template <typename Compute>
  const Result& Get(const std::string& line, Compute&& compute) {
    const auto kept = results.find(line);
    if (kept != results.end()) return kept->second;
    bytes += line.size();
    return results.emplace(line, compute(line)).first->second;
  }

  // Forgets every result once the lines kept pass the budget. Only between inputs, when no
  // result handed out is still in use.
  void ForgetIfFull() {
    if (bytes <= byteBudget) return;
    results.clear();
    bytes = 0;
  }

 private:
  std::unordered_map<std::string, Result> results;
  std::size_t bytes = 0;
  std::size_t byteBudget;
};

}  // namespace electron_morvane::fuzz
