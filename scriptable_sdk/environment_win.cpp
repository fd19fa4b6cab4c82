// Windows keeps two environments: the system's block, which programs the library starts inherit,
// and the C runtime's copy made at start-up, which getenv reads. A variable still in either one
// is seen.
#include <windows.h>

#include <cstdlib>

#include "environment.h"

namespace electron_morvane::scriptable_sdk {
namespace {

std::optional<std::string> InSystemBlock(const std::string& name) {
  SetLastError(ERROR_SUCCESS);
  const DWORD needed = GetEnvironmentVariableA(name.c_str(), nullptr, 0);
  if (needed == 0) {
    if (GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
    return std::string();
  }
  std::string value(needed, '\0');
  const DWORD written = GetEnvironmentVariableA(name.c_str(), value.data(), needed);
  value.resize(written < needed ? written : 0);
  return value;
}

}  // namespace

std::optional<std::string> VariableSeen(const std::string& name) {
  if (std::optional<std::string> value = InSystemBlock(name)) return value;
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

}  // namespace electron_morvane::scriptable_sdk
