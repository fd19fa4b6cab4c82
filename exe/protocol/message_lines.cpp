#include "protocol/message_lines.h"

#include "protocol/wire_texts.h"

namespace electron_morvane {
namespace {

// Appends one member: `{` before the first, `,` before every other one.
void AppendMember(std::string& line, std::string_view key, std::string_view jsonValue) {
  line += line.empty() ? '{' : ',';
  line += '"';
  line += key;
  line += "\":";
  line += jsonValue;
}

void AppendTextMember(std::string& line, std::string_view key, std::string_view text) {
  AppendMember(line, key, {});
  AppendQuoted(line, text);
}

}  // namespace

std::string EnvelopeLine(const Envelope& envelope, std::string_view member,
                         std::string_view value) {
  std::string line;
  line.reserve(80 + envelope.id.size() + envelope.method.size() + member.size() + value.size());
  AppendTextMember(line, "from", envelope.from);
  AppendTextMember(line, "id", envelope.id);
  AppendTextMember(line, "method", envelope.method);
  AppendMember(line, member, value);
  AppendTextMember(line, "to", envelope.to);
  AppendTextMember(line, "type", envelope.type);
  line += '}';
  return line;
}

std::string MessageLine(const ErrorMessage& message) {
  std::string line;
  AppendTextMember(line, "error", message.error);
  AppendTextMember(line, "from", message.from);
  AppendTextMember(line, "id", message.id);
  AppendTextMember(line, "method", message.method);
  AppendTextMember(line, "to", message.to);
  AppendTextMember(line, "type", message.type);
  line += '}';
  return line;
}

std::string MessageLine(const FatalMessage& message) {
  std::string line;
  AppendTextMember(line, "error", message.error);
  AppendTextMember(line, "from", message.from);
  AppendTextMember(line, "to", message.to);
  AppendTextMember(line, "type", message.type);
  line += '}';
  return line;
}

std::string FatalLine(std::string_view error) {
  return MessageLine(makeFatalMessage(std::string(error)));
}

std::string HelloLine(std::string_view secret) {
  std::string line;
  AppendTextMember(line, kTypeMember, kHelloType);
  AppendTextMember(line, kFromMember, kClientParty);
  AppendTextMember(line, kToMember, kHostParty);
  AppendTextMember(line, kSecretMember, secret);
  line += '}';
  return line;
}

}  // namespace electron_morvane
