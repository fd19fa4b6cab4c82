#include "version.h"

#include <cctype>
#include <cstddef>
#include <vector>

namespace electron_morvane::sim {

namespace {

// Each group as its digits without leading zeros, so that groups of any length compare exactly.
std::vector<std::string> Groups(const std::string& version) {
  std::vector<std::string> groups(1);
  for (char c : version) {
    if (c == '.') {
      groups.emplace_back();
    } else if (!(groups.back().empty() && c == '0')) {
      groups.back().push_back(c);
    }
  }
  return groups;
}

int CompareGroups(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int order = a.compare(b);
  return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

}  // namespace

bool IsDottedVersion(const std::string& version) {
  bool groupHasDigit = false;
  for (char c : version) {
    if (c == '.') {
      if (!groupHasDigit) return false;
      groupHasDigit = false;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      groupHasDigit = true;
    } else {
      return false;
    }
  }
  return groupHasDigit;
}

int CompareVersions(const std::string& a, const std::string& b) {
  const std::vector<std::string> left = Groups(a);
  const std::vector<std::string> right = Groups(b);
  const std::size_t count = left.size() > right.size() ? left.size() : right.size();
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& x = i < left.size() ? left[i] : std::string();
    const std::string& y = i < right.size() ? right[i] : std::string();
    if (const int order = CompareGroups(x, y); order != 0) return order;
  }
  return 0;
}

}  // namespace electron_morvane::sim
