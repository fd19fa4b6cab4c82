// The checks and updates one input has started, so that every job event the bridge writes can be
// traced to the request that started its job: same id and method, "from" and "to" swapped.
#pragma once

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "line_outcome.h"

namespace electron_morvane::fuzz {

class JobLedger {
 public:
  // Notes the job a request started: one of the table's job requests that was served.
  void NoteStarted(const ExpectedAnswer& expected, const Messages& written);

  // Stops the process (Violation) for an event that no started job can have sent, or a check
  // reported more often than it was started. `lines` are `written` as written for `received`.
  void CheckEvents(const Messages& written, const std::string& received,
                   const std::vector<std::string>& lines);

  bool AnyCheckStarted() const { return checksStarted; }

 private:
  // id, method, and the "from" and "to" the job's events carry.
  using Key = std::tuple<std::string, std::string, std::string, std::string>;
  struct Count {
    int started = 0;
    int reported = 0;
  };

  std::map<Key, Count> jobs;
  bool checksStarted = false;
};

}  // namespace electron_morvane::fuzz
