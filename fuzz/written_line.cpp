#include "written_line.h"

#include <cstdio>

namespace electron_morvane::fuzz {

void Violation(const std::string& rule, const std::string& detail) {
  std::fprintf(stderr, "\nprotocol_fuzzer: %s\n  %s\n", rule.c_str(), Printable(detail).c_str());
  std::fflush(stderr);
  __builtin_trap();
}

std::string Printable(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7f && byte != '\\') {
      text.push_back(c);
    } else {
      text += {'\\', 'x', kDigits[byte >> 4], kDigits[byte & 0x0f]};
    }
  }
  return text;
}

std::string ExchangeReport(const std::string& received, const std::vector<std::string>& written) {
  std::string report = "received: " + received;
  for (const std::string& line : written) report += "\n  wrote: " + line;
  return report;
}

nlohmann::json ParseWrittenLine(const std::string& line) {
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    // JSON escapes U+0000 to U+001F; DEL (0x7f) is plain ASCII text to it.
    if (byte < 0x20 || byte > 0x7f) {
      Violation("a written line holds a control byte or a byte outside ASCII", line);
    }
  }
  nlohmann::json message = nlohmann::json::parse(line, nullptr, /*allow_exceptions=*/false);
  if (message.is_discarded()) Violation("a written line is not JSON", line);
  if (!message.is_object()) Violation("a written line is not a JSON object", line);
  // Parsed text is valid UTF-8, so this dump cannot throw; any other spelling of the same
  // message (white space, member order, escapes) differs from it.
  if (message.dump(-1, ' ', /*ensure_ascii=*/true) != line) {
    Violation("a written line is not compact ASCII JSON with members in key order", line);
  }
  return message;
}

}  // namespace electron_morvane::fuzz
