#include "wire.h"

#include <cstring>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace electron_morvane::bench {
namespace {

using nlohmann::json;

// Members in the host's order, "type" first, as the host package writes them.
std::string Request(const std::string& id, const std::string& method, const json& params) {
  nlohmann::ordered_json message = {
      {"type", "request"}, {"from", "host"}, {"to", "client"}, {"id", id}, {"method", method}};
  if (!params.is_null()) message["params"] = params;
  return message.dump() + "\n";
}

}  // namespace

std::string VersionRequest(const std::string& id) {
  // Written out in the host's order, as the host package writes it.
  return R"({"type":"request","from":"host","to":"client","id":")" + id +
         R"(","method":"getSdkVersion"})" + "\n";
}

std::string InitRequest(const std::string& id) {
  return Request(id, "init",
                 {{"appName", "Bench"},
                  {"appId", "bench"},
                  {"deviceId", "pc-1"},
                  {"clientVersion", "1.0.0"},
                  {"oversea", false},
                  {"logMode", {"all"}}});
}

std::string DownloadDirRequest(const std::string& id) {
  return Request(id, "setDriverDownloadDir", {{"dir", "/tmp/bench-drivers"}});
}

std::string HttpAnswer(const std::string& reverseId, const std::string& body) {
  // Built by hand: the body is copied once instead of going through a JSON value.
  return R"({"type":"event","from":"host","to":"client","id":")" + reverseId +
         R"(","method":"httpRequest","params":{"sdkTaskId":1,"result":0,"httpStatusCode":200,)"
         R"("errorMsg":"","headers":{"content-type":"application/octet-stream"},"body":")" +
         body + R"(","sdkData":"7"}})" + "\n";
}

std::string BodyOfSize(std::size_t bytes) {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,:;-_/+=()[]{}<>!?#$%&*";
  std::string body(bytes, ' ');
  const std::size_t letters = sizeof(kAlphabet) - 1;
  for (std::size_t i = 0; i < bytes; ++i) body[i] = kAlphabet[(i * 7 + i / 97) % letters];
  return body;
}

std::string WithSlot(const std::string& sample, const std::string& literal,
                     const std::string& slot) {
  const auto at = sample.find(literal);
  if (at == std::string::npos) {
    throw std::runtime_error("expected " + literal + " in the bridge's line " + sample);
  }
  return sample.substr(0, at) + slot + sample.substr(at + literal.size());
}

LineTemplate::LineTemplate(const std::string& text) {
  const auto id = text.find(kIdSlot);
  if (id == std::string::npos) throw std::runtime_error("template without an id slot: " + text);
  parts_[0] = text.substr(0, id);
  const std::string rest = text.substr(id + std::strlen(kIdSlot));
  const auto slot = rest.find(kTextSlot);
  hasText_ = slot != std::string::npos;
  parts_[1] = hasText_ ? rest.substr(0, slot) : rest;
  if (hasText_) parts_[2] = rest.substr(slot + std::strlen(kTextSlot));
}

std::string LineTemplate::Fill(const std::string& id, const std::string& text) const {
  std::string line;
  line.reserve(parts_[0].size() + parts_[1].size() + parts_[2].size() + id.size() + text.size() +
               1);
  line.append(parts_[0]).append(id).append(parts_[1]);
  if (hasText_) line.append(text).append(parts_[2]);
  line.push_back('\n');
  return line;
}

std::string IdOf(const std::string& line) {
  static constexpr char kKey[] = "\"id\":\"";
  const auto start = line.find(kKey);
  if (start == std::string::npos) return {};
  const auto from = start + sizeof(kKey) - 1;
  const auto end = line.find('"', from);
  return end == std::string::npos ? std::string() : line.substr(from, end - from);
}

std::string LogText(std::uint32_t thread, std::uint32_t sequence) {
  return std::string(kLogWord) + " " + std::to_string(thread) + " " + std::to_string(sequence);
}

}  // namespace electron_morvane::bench
