#include "byte_text.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace electron_morvane::scriptable_sdk {
namespace {

int HexValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  return -1;
}

}  // namespace

std::string ToHex(const char* bytes, std::size_t length) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(length * 2);
  for (std::size_t i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0f]);
  }
  return hex;
}

std::optional<std::string> FromHex(const std::string& hex) {
  if (hex.size() % 2 != 0) return std::nullopt;
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<char>(high * 16 + low));
  }
  return bytes;
}

std::string ToDecimal(std::uint64_t value) { return std::to_string(value); }

std::optional<std::uint64_t> FromDecimal(const std::string& text) {
  if (text.empty()) return std::nullopt;
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t value = 0;
  for (const char digit : text) {
    if (digit < '0' || digit > '9') return std::nullopt;
    const auto add = static_cast<std::uint64_t>(digit - '0');
    if (value > (kMax - add) / 10) return std::nullopt;
    value = value * 10 + add;
  }
  return value;
}

nlohmann::json TextOrNull(const char* text) {
  return text == nullptr ? nlohmann::json(nullptr) : nlohmann::json(std::string(text));
}

void FillArray(char* array, std::size_t width, const std::string& text) {
  std::memset(array, 0, width);
  std::memcpy(array, text.data(), std::min(width, text.size()));
}

}  // namespace electron_morvane::scriptable_sdk
