// What a test host serves: its answer to an HTTP request, and how it carries out a download.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace electron_morvane::sim_test {

// How the host answers an HTTP request for one URL.
struct HttpReply {
  bool answer = true;  // false: the host never answers
  int32_t result = 0;
  int32_t httpStatusCode = 200;
  std::string errorMsg;
  std::string body;
};

// A host that never answers.
inline HttpReply NoAnswer() {
  HttpReply reply;
  reply.answer = false;
  return reply;
}

// How the host serves a download of one URL: writes bytes to the path, sends a progress event
// for each of progress, then (when finish) the final event.
struct DownloadPlan {
  std::string bytes;
  std::vector<int32_t> progress{30, 60};
  bool finish = true;
  int32_t result = 0;
  int32_t httpStatusCode = 200;
  std::string errorMsg;
};

// A download that reports 10 % and then never finishes: the update stays in its download.
inline DownloadPlan StalledDownload() {
  DownloadPlan plan;
  plan.progress = {10};
  plan.finish = false;
  return plan;
}

}  // namespace electron_morvane::sim_test
