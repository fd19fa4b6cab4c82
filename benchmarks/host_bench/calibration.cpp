#include "calibration.h"

#include <fstream>
#include <stdexcept>

#include "scenarios.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

using nlohmann::json;

constexpr char kProbeId[] = "424242";

json ParseLine(const std::string& line) {
  json message = json::parse(line, nullptr, false);
  if (message.is_discarded() || !message.is_object()) {
    throw std::runtime_error("the bridge wrote a line that is not a JSON object: " + line);
  }
  return message;
}

// Reads lines until one is the response to `id`; the others go to `others` as written.
json ResponseTo(Peer& peer, const std::string& id, std::vector<std::string>& others) {
  for (;;) {
    std::string line = peer.In().NextLine();
    json message = ParseLine(line);
    if (message.value("type", "") == "response" && message.value("id", "") == id) return message;
    others.push_back(std::move(line));
  }
}

void CalibrateReply(const PeerSetups& setups, Calibration& calibration) {
  Peer bridge(setups.BridgeWithLibraryBeside());
  bridge.Send(VersionRequest(kProbeId));
  const std::string reply = bridge.In().NextLine();
  const json message = ParseLine(reply);
  if (message.value("id", "") != kProbeId || !message.contains("result") ||
      message["result"].value("status", -1) != 0 || !message["result"]["data"].is_string()) {
    throw std::runtime_error("unexpected answer to getSdkVersion: " + reply);
  }
  calibration.version = message["result"]["data"].get<std::string>();
  calibration.replyTemplate = WithSlot(reply, std::string("\"id\":\"") + kProbeId + "\"",
                                       std::string("\"id\":\"") + kIdSlot + "\"");
}

std::string HexOf(const std::string& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex.push_back(kDigits[byte >> 4]);
    hex.push_back(kDigits[byte & 0x0f]);
  }
  return hex;
}

// One setDriverDownloadDir brings an httpRequest and a numbered log line, which gives the
// template; the answer's body must reach the library (which keeps its bytes here) unchanged.
void CalibrateScripted(const PeerSetups& setups, std::size_t bodyBytes, Calibration& calibration) {
  json scenario = BodyScenario(calibration.version, true);
  scenario["actions"].push_back(LogScenario(calibration.version, 1, 1)["actions"][0]);
  Peer bridge(setups.BridgeWithScenario(scenario));
  std::vector<std::string> others;
  bridge.Send(InitRequest("1"));
  ResponseTo(bridge, "1", others);

  bridge.Send(DownloadDirRequest("2"));
  ResponseTo(bridge, "2", others);
  std::string httpRequestId;
  std::string logLine;
  while (httpRequestId.empty() || logLine.empty()) {
    for (const std::string& line : others) {
      const json message = ParseLine(line);
      if (message.value("method", "") == "httpRequest") httpRequestId = message.value("id", "");
      if (message.value("method", "") == "log") logLine = line;
    }
    if (httpRequestId.empty() || logLine.empty()) others.push_back(bridge.In().NextLine());
  }
  calibration.logTemplate =
      WithSlot(WithSlot(logLine, "\"id\":\"" + ParseLine(logLine).value("id", "") + "\"",
                        std::string("\"id\":\"") + kIdSlot + "\""),
               LogText(0, 0), kTextSlot);

  const std::string body = BodyOfSize(bodyBytes);
  bridge.Send(HttpAnswer(httpRequestId, body) + VersionRequest("3"));
  ResponseTo(bridge, "3", others);
  const auto calls = CallsIn(bridge.File(kCallLogFile), "httpResponse");
  if (calls.size() != 1 || calls[0].value("bodyLength", 0u) != body.size() ||
      calls[0].value("bodyHex", "") != HexOf(body)) {
    throw std::runtime_error("the body did not reach the library unchanged");
  }
}

}  // namespace

Calibration Calibrate(const PeerSetups& setups, std::size_t bodyBytes) {
  Calibration calibration;
  CalibrateReply(setups, calibration);
  CalibrateScripted(setups, bodyBytes, calibration);
  return calibration;
}

std::vector<json> CallsIn(const std::string& callLogPath, const std::string& function) {
  std::ifstream file(callLogPath);
  std::vector<json> calls;
  std::string line;
  while (std::getline(file, line)) {
    json entry = json::parse(line, nullptr, false);
    if (!entry.is_discarded() && entry.value("call", "") == function)
      calls.push_back(std::move(entry));
  }
  return calls;
}

}  // namespace electron_morvane::bench
