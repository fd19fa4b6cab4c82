// libFuzzer entry. An input is one byte that picks the library's scenario, then what the host
// writes on the pipe: lines ended by line feeds. Each line goes through the router as the main
// loop hands it over, and everything the bridge writes because of it is checked: every line
// (written_line.h), every message's shape (message_shapes.h), the router's answer
// (line_outcome.h) and every job event (job_ledger.h). A broken rule traps, so libFuzzer keeps
// the input.
//
// Run with -detect_leaks=0: a check job is a heap object the library owns until it reports, and
// an update job is never released, by design, since the library may report on it at any time.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "bridge_under_test.h"
#include "job_ledger.h"
#include "line_memo.h"
#include "line_outcome.h"
#include "message_shapes.h"
#include "scripted_libraries.h"
#include "written_line.h"

namespace electron_morvane::fuzz {
namespace {

// The pipe's framing: each line keeps its line feed. The last line gets one if it lacks it, as
// if the host were about to write it.
std::vector<std::string> Lines(const char* bytes, std::size_t size) {
  std::vector<std::string> lines;
  const char* const end = bytes + size;
  while (bytes != end) {
    const char* const feed = static_cast<const char*>(std::memchr(bytes, '\n', end - bytes));
    const char* const next = feed == nullptr ? end : feed + 1;
    lines.emplace_back(bytes, next);
    if (feed == nullptr) lines.back().push_back('\n');
    bytes = next;
  }
  return lines;
}

// Each memo keeps at most about 8 MiB of lines (with their results, some tens of MiB).
constexpr std::size_t kMemoBytes = 8 << 20;

// Every written line, checked against the rules of a line alone (written_line.h,
// message_shapes.h) and parsed.
Messages CheckAll(LineMemo<nlohmann::json>& checked, const std::vector<std::string>& written) {
  Messages messages;
  messages.reserve(written.size());
  for (const std::string& line : written) {
    messages.push_back(&checked.Get(line, [](const std::string& text) {
      nlohmann::json message = ParseWrittenLine(text);
      CheckMessageShape(message, text);
      return message;
    }));
  }
  return messages;
}

void RunInput(const std::uint8_t* data, std::size_t size) {
  // Never destroyed: the wrapper keeps the table's callbacks, which refer to its router, for the
  // process's life.
  static BridgeUnderTest& bridge = *new BridgeUnderTest();
  static LineMemo<ExpectedAnswer> expectations(kMemoBytes);
  static LineMemo<nlohmann::json> checked(kMemoBytes);
  bridge.Restart(PreparedScenarioFor(data[0]));
  JobLedger jobs;
  for (const std::string& line : Lines(reinterpret_cast<const char*>(data) + 1, size - 1)) {
    // The main loop never hands over a lone line feed.
    if (line == "\n") continue;
    const ExpectedAnswer& expected = expectations.Get(line, ExpectAnswer);
    const std::vector<std::string> written = bridge.Dispatch(line);
    const Messages messages = CheckAll(checked, written);
    CheckAnswer(expected, line, messages, written);
    jobs.NoteStarted(expected, messages);
    jobs.CheckEvents(messages, line, written);
  }
  // Reporting the checks still waiting releases their jobs before the next input.
  if (jobs.AnyCheckStarted()) {
    const std::vector<std::string> written = bridge.ReportPendingChecks();
    jobs.CheckEvents(CheckAll(checked, written), "(the library reports waiting checks)", written);
  }
  expectations.ForgetIfFull();
  checked.ForgetIfFull();
}

}  // namespace
}  // namespace electron_morvane::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size != 0) electron_morvane::fuzz::RunInput(data, size);
  return 0;
}
