// Conversions between the library's raw bytes and the texts of scenarios and call log entries.
#pragma once

#include <cstddef>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace electron_morvane::scriptable_sdk {

std::string ToHex(const char* bytes, std::size_t length);
// Nothing for a text that is not an even number of hex digits.
std::optional<std::string> FromHex(const std::string& hex);

std::string ToDecimal(std::uint64_t value);
// Only digits, and at most 2^64 - 1.
std::optional<std::uint64_t> FromDecimal(const std::string& text);

// A text argument as the call log shows it: the text, or null for a null pointer.
nlohmann::json TextOrNull(const char* text);

// Copies `text` into a fixed array: a shorter text is followed by zero bytes; a text as long as
// the array or longer fills it completely and leaves no NUL.
void FillArray(char* array, std::size_t width, const std::string& text);

template <std::size_t Width>
void FillArray(char (&array)[Width], const std::string& text) {
  FillArray(array, Width, text);
}

}  // namespace electron_morvane::scriptable_sdk
