#include "adapter_id.h"

#include <algorithm>
#include <cctype>

namespace electron_morvane::sim {

namespace {

char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

}  // namespace

bool SameId(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [](char x, char y) { return Upper(x) == Upper(y); });
}

std::string AdapterKey(const std::string& vendorId, const std::string& deviceId) {
  std::string key = vendorId + ":" + deviceId;
  std::transform(key.begin(), key.end(), key.begin(), Upper);
  return key;
}

}  // namespace electron_morvane::sim
