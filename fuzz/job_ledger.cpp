#include "job_ledger.h"

#include "written_line.h"

namespace electron_morvane::fuzz {

void JobLedger::NoteStarted(const ExpectedAnswer& expected, const Messages& written) {
  if (expected.kind != ExpectedAnswer::Kind::kAnswer) return;
  const nlohmann::json& request = expected.request;
  const std::string& method = request.at("method").get_ref<const std::string&>();
  const bool isCheck = method == "checkDisplayDeviceDriver";
  if (!isCheck && method != "updateDisplayDeviceDriver") return;
  for (const nlohmann::json* parsed : written) {
    const nlohmann::json& message = *parsed;
    if (TextMember(message, "type") != "response") continue;
    ++jobs[Key{request.at("id"), method, request.at("to"), request.at("from")}].started;
    checksStarted = checksStarted || isCheck;
  }
}

void JobLedger::CheckEvents(const Messages& written, const std::string& received,
                            const std::vector<std::string>& lines) {
  for (const nlohmann::json* parsed : written) {
    const nlohmann::json& message = *parsed;
    if (TextMember(message, "type") != "event") continue;
    const auto job = jobs.find(
        Key{message.at("id"), message.at("method"), message.at("from"), message.at("to")});
    if (job == jobs.end()) {
      Violation("a job event names no request that started a job", ExchangeReport(received, lines));
    }
    if (TextMember(message, "method") == "checkDisplayDeviceDriver" &&
        ++job->second.reported > job->second.started) {
      Violation("a check was reported more often than it was started",
                ExchangeReport(received, lines));
    }
  }
}

}  // namespace electron_morvane::fuzz
