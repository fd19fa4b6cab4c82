// The figures of all rounds, and the table printed from them: per figure the medians of the
// bridge and of its reference (the raw peer, or the JSON parse), the median of the per-round
// ratios with their range, the target and whether it is met.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace electron_morvane::bench {

enum class Goal {
  kNone,
  kRatioAtLeast,  // bridge / reference >= bound (rates)
  kRatioAtMost,   // bridge / reference <= bound (times)
  kBridgeAtMost,  // bridge <= bound
  kBridgeBelow,   // bridge < bound
};

struct Row {
  std::string figure;
  std::string unit;
  std::string reference;  // "raw" or "parse"
  Goal goal = Goal::kNone;
  double bound = 0;
  std::vector<double> bridge;           // one value per round
  std::vector<double> referenceValues;  // paired with bridge
};

class Report {
 public:
  // Rows print in the order they are first added to.
  void Add(const std::string& figure, const std::string& unit, const std::string& reference,
           Goal goal, double bound, double bridge, double referenceValue);
  void Print(std::FILE* out) const;
  bool AllTargetsMet() const;

 private:
  std::vector<Row> rows_;
};

}  // namespace electron_morvane::bench
