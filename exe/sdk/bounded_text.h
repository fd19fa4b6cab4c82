// Reading texts that the driver library hands over, without trusting them to be terminated.
#pragma once

#include <cstddef>
#include <string>

namespace electron_morvane {

// The text of a fixed-width array: up to its first NUL, and never past the array's end.
std::string TextFromArray(const char* array, std::size_t width);

template <std::size_t Width>
std::string TextFromArray(const char (&array)[Width]) {
  return TextFromArray(array, Width);
}

// A NUL-terminated text, or the empty text for a null pointer.
std::string TextOrEmpty(const char* text);

}  // namespace electron_morvane
