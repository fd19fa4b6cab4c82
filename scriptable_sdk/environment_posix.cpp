#include <cstdlib>

#include "environment.h"

namespace electron_morvane::scriptable_sdk {

std::optional<std::string> VariableSeen(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace electron_morvane::scriptable_sdk
