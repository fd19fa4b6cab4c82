#include "protocol/json_rules.h"

#include <cmath>
#include <limits>

namespace electron_morvane {
namespace {

constexpr double kTwoToThe32 = 4294967296.0;

std::int32_t LowBits(std::uint64_t value) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

// The low 32 bits of the integer a finite double truncates to, without ever converting an
// out-of-range double to an integer type.
std::int32_t LowBitsOfTruncated(double value) {
  const double low = std::fmod(std::trunc(value), kTwoToThe32);  // exact, |low| < 2^32
  return LowBits(static_cast<std::uint64_t>(static_cast<std::int64_t>(low)));
}

bool IsDecimalSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

template <typename T>
bool ReadMember(const json& object, std::string_view key, T& out,
                bool (*read)(const json&, T&)) {
  if (!object.is_object()) return false;
  const auto member = object.find(key);
  return member != object.end() && read(*member, out);
}

}  // namespace

bool ContainsAll(const json& value, std::initializer_list<std::string_view> keys) {
  if (keys.size() == 0) return true;
  if (!value.is_object()) return false;
  for (std::string_view key : keys) {
    if (value.find(key) == value.end()) return false;
  }
  return true;
}

bool ReadText(const json& value, std::string& out) {
  if (!value.is_string()) return false;
  out = value.get_ref<const std::string&>();
  return true;
}

bool ReadInt32(const json& value, std::int32_t& out) {
  switch (value.type()) {
    case json::value_t::number_unsigned:
      out = LowBits(value.get<std::uint64_t>());
      return true;
    case json::value_t::number_integer:
      out = LowBits(static_cast<std::uint64_t>(value.get<std::int64_t>()));
      return true;
    case json::value_t::number_float: {
      const double number = value.get<double>();
      if (!std::isfinite(number)) return false;
      out = LowBitsOfTruncated(number);
      return true;
    }
    case json::value_t::boolean:
      out = value.get<bool>() ? 1 : 0;
      return true;
    default:
      return false;
  }
}

bool ReadBool(const json& value, bool& out) {
  if (!value.is_boolean()) return false;
  out = value.get<bool>();
  return true;
}

bool ReadDecimalUInt64(const json& value, std::uint64_t& out) {
  if (!value.is_string()) return false;
  const std::string& text = value.get_ref<const std::string&>();
  std::size_t pos = 0;
  while (pos < text.size() && IsDecimalSpace(text[pos])) ++pos;
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
  std::uint64_t result = 0;
  bool sawDigit = false;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    const auto digit = static_cast<std::uint64_t>(text[pos] - '0');
    if (result > (kMax - digit) / 10) return false;
    result = result * 10 + digit;
    sawDigit = true;
  }
  if (!sawDigit) return false;
  out = negative ? (~result + 1) : result;
  return true;
}

bool ReadText(const json& object, std::string_view key, std::string& out) {
  return ReadMember<std::string>(object, key, out, &ReadText);
}
bool ReadInt32(const json& object, std::string_view key, std::int32_t& out) {
  return ReadMember<std::int32_t>(object, key, out, &ReadInt32);
}
bool ReadBool(const json& object, std::string_view key, bool& out) {
  return ReadMember<bool>(object, key, out, &ReadBool);
}
bool ReadDecimalUInt64(const json& object, std::string_view key, std::uint64_t& out) {
  return ReadMember<std::uint64_t>(object, key, out, &ReadDecimalUInt64);
}

}  // namespace electron_morvane
