#include "object_reader.h"

#include <limits>
#include <stdexcept>

#include "byte_text.h"

namespace electron_morvane::scriptable_sdk {
namespace {

std::int64_t IntegerOf(const nlohmann::json& value, bool* ok) {
  *ok = value.is_number_integer();
  if (!*ok) return 0;
  if (value.is_number_unsigned()) {
    const auto unsigned_value = value.get<std::uint64_t>();
    *ok = unsigned_value <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return *ok ? static_cast<std::int64_t>(unsigned_value) : 0;
  }
  return value.get<std::int64_t>();
}

}  // namespace

ObjectReader::ObjectReader(const nlohmann::json& object, std::string where)
    : object_(object), where_(std::move(where)) {
  if (!object_.is_object()) throw std::invalid_argument(where_ + " must be an object");
}

bool ObjectReader::Has(const std::string& key) const { return object_.contains(key); }

const nlohmann::json& ObjectReader::Raw(const std::string& key) {
  if (!Has(key)) Fail(key, "is missing");
  read_.insert(key);
  return object_.at(key);
}

std::string ObjectReader::Text(const std::string& key, const std::string& fallback) {
  if (!Has(key)) return fallback;
  const auto& value = Raw(key);
  if (!value.is_string()) Fail(key, "must be a string");
  return value.get<std::string>();
}

std::optional<std::string> ObjectReader::OptionalText(const std::string& key) {
  if (!Has(key)) return std::nullopt;
  return Text(key, "");
}

bool ObjectReader::Bool(const std::string& key, bool fallback) {
  if (!Has(key)) return fallback;
  const auto& value = Raw(key);
  if (!value.is_boolean()) Fail(key, "must be true or false");
  return value.get<bool>();
}

std::int32_t ObjectReader::Int32(const std::string& key, std::int32_t fallback) {
  if (!Has(key)) return fallback;
  bool ok = false;
  const std::int64_t value = IntegerOf(Raw(key), &ok);
  if (!ok || value < std::numeric_limits<std::int32_t>::min() ||
      value > std::numeric_limits<std::int32_t>::max()) {
    Fail(key, "must be a signed 32-bit integer");
  }
  return static_cast<std::int32_t>(value);
}

std::uint32_t ObjectReader::UInt32(const std::string& key, std::uint32_t fallback) {
  return OptionalUInt32(key).value_or(fallback);
}

std::optional<std::uint32_t> ObjectReader::OptionalUInt32(const std::string& key) {
  if (!Has(key)) return std::nullopt;
  bool ok = false;
  const std::int64_t value = IntegerOf(Raw(key), &ok);
  if (!ok || value < 0 || value > std::numeric_limits<std::uint32_t>::max()) {
    Fail(key, "must be an unsigned 32-bit integer");
  }
  return static_cast<std::uint32_t>(value);
}

std::uint64_t ObjectReader::UInt64(const std::string& key, std::uint64_t fallback) {
  if (!Has(key)) return fallback;
  const auto& value = Raw(key);
  if (value.is_number_unsigned()) return value.get<std::uint64_t>();
  if (value.is_number_integer() && value.get<std::int64_t>() >= 0) {
    return static_cast<std::uint64_t>(value.get<std::int64_t>());
  }
  if (value.is_string()) {
    if (const auto parsed = FromDecimal(value.get<std::string>())) return *parsed;
  }
  Fail(key, "must be an unsigned number or a text of decimal digits up to 18446744073709551615");
}

void ObjectReader::Finish() const {
  for (const auto& member : object_.items()) {
    if (read_.count(member.key()) == 0) Fail(member.key(), "is not a known member");
  }
}

void ObjectReader::Fail(const std::string& key, const std::string& problem) const {
  throw std::invalid_argument(Where(key) + " " + problem);
}

}  // namespace electron_morvane::scriptable_sdk
