// How every decoder reads JSON values. A value that breaks its rule makes the whole decode fail;
// none of these throws.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace electron_morvane {

using json = nlohmann::json;

// True when value is an object holding every key (an empty list is true for any value).
bool ContainsAll(const json& value, std::initializer_list<std::string_view> keys);

// Text rule: JSON strings only.
bool ReadText(const json& value, std::string& out);
// Integer rule: the low 32 bits of any JSON integer, a float truncated toward zero, true/false
// as 1/0; strings, null, arrays and objects fail.
bool ReadInt32(const json& value, std::int32_t& out);
// Boolean rule: true and false only.
bool ReadBool(const json& value, bool& out);
// Decimal rule, for 64-bit task values sent as text: leading white space, an optional sign ("-"
// negates modulo 2^64), digits up to the first non-digit; no digit or a value above 2^64-1 fails.
bool ReadDecimalUInt64(const json& value, std::uint64_t& out);

// The same rules applied to a member of an object; a missing member fails.
bool ReadText(const json& object, std::string_view key, std::string& out);
bool ReadInt32(const json& object, std::string_view key, std::int32_t& out);
bool ReadBool(const json& object, std::string_view key, bool& out);
bool ReadDecimalUInt64(const json& object, std::string_view key, std::uint64_t& out);

}  // namespace electron_morvane
