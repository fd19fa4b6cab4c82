#include "report.h"

#include <algorithm>
#include <cmath>

#include "measure_util.h"

namespace electron_morvane::bench {
namespace {

std::vector<double> Ratios(const Row& row) {
  std::vector<double> ratios;
  for (std::size_t i = 0; i < row.bridge.size(); ++i) {
    if (row.referenceValues[i] > 0) ratios.push_back(row.bridge[i] / row.referenceValues[i]);
  }
  return ratios;
}

bool UsesRatio(Goal goal) {
  return goal == Goal::kRatioAtLeast || goal == Goal::kRatioAtMost || goal == Goal::kNone;
}

std::string Number(double value) {
  char text[32];
  const double magnitude = std::fabs(value);
  const char* format = magnitude >= 1000  ? "%.0f"
                       : magnitude >= 100 ? "%.1f"
                       : magnitude >= 1   ? "%.2f"
                                          : "%.3f";
  std::snprintf(text, sizeof(text), format, value);
  return text;
}

std::string TargetText(const Row& row) {
  switch (row.goal) {
    case Goal::kNone:
      return "-";
    case Goal::kRatioAtLeast:
      return ">= " + Number(row.bound) + "x";
    case Goal::kRatioAtMost:
      return "<= " + Number(row.bound) + "x";
    case Goal::kBridgeAtMost:
      return "<= " + Number(row.bound);
    case Goal::kBridgeBelow:
      return "< " + Number(row.bound);
  }
  return "-";
}

// "" when the row has no target.
std::string Mark(const Row& row) {
  const double ratio = Median(Ratios(row));
  const double bridge = Median(row.bridge);
  switch (row.goal) {
    case Goal::kNone:
      return "";
    case Goal::kRatioAtLeast:
      return ratio >= row.bound ? "pass" : "FAIL";
    case Goal::kRatioAtMost:
      return ratio <= row.bound ? "pass" : "FAIL";
    case Goal::kBridgeAtMost:
      return bridge <= row.bound ? "pass" : "FAIL";
    case Goal::kBridgeBelow:
      return bridge < row.bound ? "pass" : "FAIL";
  }
  return "";
}

}  // namespace

void Report::Add(const std::string& figure, const std::string& unit, const std::string& reference,
                 Goal goal, double bound, double bridge, double referenceValue) {
  auto row = std::find_if(rows_.begin(), rows_.end(),
                          [&](const Row& existing) { return existing.figure == figure; });
  if (row == rows_.end()) {
    rows_.push_back(Row{figure, unit, reference, goal, bound, {}, {}});
    row = rows_.end() - 1;
  }
  row->bridge.push_back(bridge);
  row->referenceValues.push_back(referenceValue);
}

void Report::Print(std::FILE* out) const {
  std::fprintf(out, "%-34s %-9s %12s %18s %22s %10s  %s\n", "figure", "unit", "bridge", "reference",
               "ratio [min..max]", "target", "");
  for (const Row& row : rows_) {
    const std::string reference = row.reference + " " + Number(Median(row.referenceValues));
    std::string ratio = "-";
    if (UsesRatio(row.goal)) {
      const auto ratios = Ratios(row);
      if (!ratios.empty()) {
        ratio = Number(Median(ratios)) + "x [" +
                Number(*std::min_element(ratios.begin(), ratios.end())) + ".." +
                Number(*std::max_element(ratios.begin(), ratios.end())) + "]";
      }
    }
    std::fprintf(out, "%-34s %-9s %12s %18s %22s %10s  %s\n", row.figure.c_str(), row.unit.c_str(),
                 Number(Median(row.bridge)).c_str(), reference.c_str(), ratio.c_str(),
                 TargetText(row).c_str(), Mark(row).c_str());
  }
}

bool Report::AllTargetsMet() const {
  return std::none_of(rows_.begin(), rows_.end(),
                      [](const Row& row) { return Mark(row) == "FAIL"; });
}

}  // namespace electron_morvane::bench
