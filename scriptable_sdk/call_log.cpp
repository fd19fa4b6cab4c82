#include "call_log.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include "no_destructor.h"

namespace electron_morvane::scriptable_sdk {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

class CallLog {
 public:
  CallLog() {
    const char* path = std::getenv("MORVANE_CALL_LOG");
    if (path != nullptr && *path != '\0') file_.reset(std::fopen(path, "ab"));
  }

  void Append(const nlohmann::json& entry) {
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(entry);
    if (!file_) return;
    const std::string line =
        entry.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fwrite(line.data(), 1, line.size(), file_.get());
    std::fflush(file_.get());
  }

  std::vector<nlohmann::json> Entries() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

  void Clear() {
    const std::lock_guard<std::mutex> lock(mutex_);
    entries_.clear();
  }

 private:
  std::mutex mutex_;
  std::vector<nlohmann::json> entries_;
  std::unique_ptr<std::FILE, FileCloser> file_;
};

CallLog& TheCallLog() {
  static NoDestructor<CallLog> log;
  return log.get();
}

}  // namespace

void AppendToCallLog(const nlohmann::json& entry) { TheCallLog().Append(entry); }

std::vector<nlohmann::json> CallLogEntries() { return TheCallLog().Entries(); }

void ClearCallLog() { TheCallLog().Clear(); }

}  // namespace electron_morvane::scriptable_sdk
