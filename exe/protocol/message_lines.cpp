#include "protocol/message_lines.h"

namespace electron_morvane {

std::string EnvelopeLine(const Envelope& envelope, std::string_view member,
                         std::string_view value) {
  std::string line;
  line.reserve(80 + envelope.id.size() + envelope.method.size() + member.size() + value.size());
  line += "{\"from\":";
  AppendQuoted(line, envelope.from);
  line += ",\"id\":";
  AppendQuoted(line, envelope.id);
  line += ",\"method\":";
  AppendQuoted(line, envelope.method);
  line += ",\"";
  line += member;
  line += "\":";
  line += value;
  line += ",\"to\":";
  AppendQuoted(line, envelope.to);
  line += ",\"type\":";
  AppendQuoted(line, envelope.type);
  line += '}';
  return line;
}

std::string MessageLine(const ErrorMessage& message) {
  std::string line = "{\"error\":";
  AppendQuoted(line, message.error);
  line += ",\"from\":";
  AppendQuoted(line, message.from);
  line += ",\"id\":";
  AppendQuoted(line, message.id);
  line += ",\"method\":";
  AppendQuoted(line, message.method);
  line += ",\"to\":";
  AppendQuoted(line, message.to);
  line += ",\"type\":";
  AppendQuoted(line, message.type);
  line += '}';
  return line;
}

std::string MessageLine(const FatalMessage& message) {
  std::string line = "{\"error\":";
  AppendQuoted(line, message.error);
  line += ",\"from\":";
  AppendQuoted(line, message.from);
  line += ",\"to\":";
  AppendQuoted(line, message.to);
  line += ",\"type\":";
  AppendQuoted(line, message.type);
  line += '}';
  return line;
}

std::string FatalLine(std::string_view error) {
  return MessageLine(makeFatalMessage(std::string(error)));
}

}  // namespace electron_morvane
