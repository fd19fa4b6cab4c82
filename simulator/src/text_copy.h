// Copies a text into a fixed record field: cut to fit, always NUL-terminated.
#pragma once

#include <cstddef>
#include <cstring>
#include <string>

namespace electron_morvane::sim {

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  const std::size_t length = text.size() < N - 1 ? text.size() : N - 1;
  std::memcpy(field, text.data(), length);
  std::memset(field + length, 0, N - length);
}

}  // namespace electron_morvane::sim
