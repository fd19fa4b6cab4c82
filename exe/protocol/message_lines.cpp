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

}  // namespace electron_morvane
