// What every line the bridge writes must be, whatever it was sent: one JSON object in ASCII with
// no raw control byte (so no line feed can split it on the pipe), compact, members in key order.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace electron_morvane::fuzz {

// Reports a broken rule on stderr and stops the process, so that libFuzzer keeps the input.
[[noreturn]] void Violation(const std::string& rule, const std::string& detail);

// Bytes outside printable ASCII as \xNN, for reports.
std::string Printable(const std::string& bytes);

// The report of one exchange: the line received and every line written because of it. Built
// only once a rule is broken: on long inputs, building it for every line cost more than the
// checks.
std::string ExchangeReport(const std::string& received, const std::vector<std::string>& written);

// A text member of a written message that passed the shape check, which makes sure every
// message's "type", "from", "to", "id", "method" and "error" (where present) are texts. Compared
// as a text, it costs no JSON value for the other side.
inline const std::string& TextMember(const nlohmann::json& message, const char* key) {
  return message.at(key).get_ref<const std::string&>();
}

// Checks one written line against the rules above and returns it parsed.
nlohmann::json ParseWrittenLine(const std::string& line);

}  // namespace electron_morvane::fuzz
