// Strict reading of one JSON object of a scenario: typed members with defaults, and an error for
// any member that nobody asked for, so a misspelt key never passes silently.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <string>

namespace electron_morvane::scriptable_sdk {

class ObjectReader {
 public:
  // `where` names the object in error messages, e.g. "actions[2]".
  ObjectReader(const nlohmann::json& object, std::string where);

  bool Has(const std::string& key) const;
  const nlohmann::json& Raw(const std::string& key);  // the member, which must exist

  std::string Text(const std::string& key, const std::string& fallback);
  std::optional<std::string> OptionalText(const std::string& key);  // absent: none
  bool Bool(const std::string& key, bool fallback);
  std::int32_t Int32(const std::string& key, std::int32_t fallback);
  std::uint32_t UInt32(const std::string& key, std::uint32_t fallback);
  std::optional<std::uint32_t> OptionalUInt32(const std::string& key);
  // An unsigned number, or a text of decimal digits (for values beyond JSON's exact range).
  std::uint64_t UInt64(const std::string& key, std::uint64_t fallback);

  // Throws when the object has members that were never read.
  void Finish() const;

  [[noreturn]] void Fail(const std::string& key, const std::string& problem) const;
  std::string Where(const std::string& key) const { return where_ + "." + key; }

 private:
  const nlohmann::json& object_;
  std::string where_;
  std::set<std::string> read_;
};

}  // namespace electron_morvane::scriptable_sdk
