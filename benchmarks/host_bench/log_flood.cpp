#include <sys/socket.h>

#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "figures.h"
#include "measure_util.h"
#include "wire.h"

namespace electron_morvane::bench {
namespace {

constexpr std::size_t kWarmUp = 200;
constexpr std::size_t kChunk = 1 << 20;
// Log lines that must have arrived before the timed requests start, so the flood is in full swing.
constexpr std::size_t kFloodUnderWay = 20000;

// Reads everything the bridge writes, as fast as it comes: answers are handed to the waiting
// requester, log lines are counted and checked (each thread's numbers without a gap, every line
// whole), so the flood is never held back by this side.
class FloodReader {
 public:
  FloodReader(int fd, std::uint32_t threads) : fd_(fd), next_(threads, 0) {}

  void Run() {
    std::vector<char> buffer(kChunk);
    std::size_t held = 0;
    for (;;) {
      if (held == buffer.size()) buffer.resize(buffer.size() * 2);
      const ssize_t got = ::recv(fd_, buffer.data() + held, buffer.size() - held, 0);
      if (got == 0) return;
      if (got < 0) {
        if (errno == EINTR) continue;
        return;
      }
      held += static_cast<std::size_t>(got);
      std::size_t start = 0;
      for (;;) {
        const void* feed = std::memchr(buffer.data() + start, '\n', held - start);
        if (feed == nullptr) break;
        const std::size_t end = static_cast<std::size_t>(static_cast<const char*>(feed) -
                                                         buffer.data());
        Line(buffer.data() + start, end - start);
        start = end + 1;
      }
      std::memmove(buffer.data(), buffer.data() + start, held - start);
      held -= start;
      PublishLogLines();
    }
  }

  // Waits for the answer with this id; returns when it came.
  Clock::time_point AwaitAnswer(const std::string& id) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(30),
                           [&] { return !problem_.empty() || answered_ == id; })) {
      throw std::runtime_error("flood: no answer to request " + id + " within 30 s");
    }
    if (!problem_.empty()) throw std::runtime_error("flood: " + problem_);
    return answeredAt_;
  }

  void AwaitLogLines(std::size_t lines) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (!changed_.wait_for(lock, std::chrono::seconds(30),
                           [&] { return !problem_.empty() || logLines_ >= lines; })) {
      throw std::runtime_error("flood: the library's log lines did not come");
    }
    if (!problem_.empty()) throw std::runtime_error("flood: " + problem_);
  }

  std::size_t LogLines() {
    std::lock_guard<std::mutex> lock(mutex_);
    return logLines_;
  }

 private:
  void Line(const char* text, std::size_t size) {
    const std::string_view line(text, size);
    if (line.size() < 2 || line.front() != '{' || line.back() != '}') {
      return Fail("a line that is not whole: " + std::string(line.substr(0, 200)));
    }
    static constexpr std::string_view kLog = "\"log\":\"bench ";
    const auto log = line.find(kLog);
    if (log == std::string_view::npos) return Answer(std::string(line));
    const char* const end = line.data() + line.size();
    unsigned thread = 0;
    unsigned sequence = 0;
    const auto first = std::from_chars(line.data() + log + kLog.size(), end, thread);
    const auto second = first.ec == std::errc() && first.ptr != end && *first.ptr == ' '
                            ? std::from_chars(first.ptr + 1, end, sequence)
                            : std::from_chars_result{nullptr, std::errc::invalid_argument};
    if (second.ec != std::errc() || thread >= next_.size()) {
      return Fail("a log line without its numbers: " + std::string(line.substr(0, 200)));
    }
    if (sequence != next_[thread]) {
      return Fail("thread " + std::to_string(thread) + "'s line " + std::to_string(sequence) +
                  " came where " + std::to_string(next_[thread]) + " was due");
    }
    ++next_[thread];
    ++unpublished_;
  }

  // The lines counted since the last read go to the waiting side once per read, not once per
  // line: a lock per line would make this reader the flood's bottleneck.
  void PublishLogLines() {
    if (unpublished_ == 0) return;
    bool underWay = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      underWay = logLines_ < kFloodUnderWay && logLines_ + unpublished_ >= kFloodUnderWay;
      logLines_ += unpublished_;
    }
    unpublished_ = 0;
    if (underWay) changed_.notify_all();
  }

  void Answer(const std::string& line) {
    const Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      answered_ = IdOf(line);
      answeredAt_ = now;
    }
    changed_.notify_all();
  }

  void Fail(const std::string& problem) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (problem_.empty()) problem_ = problem;
    }
    changed_.notify_all();
  }

  int fd_;
  std::vector<std::uint32_t> next_;  // the reader thread's own
  std::size_t unpublished_ = 0;      // likewise
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string answered_;
  Clock::time_point answeredAt_;
  std::size_t logLines_ = 0;
  std::string problem_;
};

}  // namespace

FloodLatency RoundTripsBesideLogs(Peer& peer, std::size_t count, std::uint32_t threads,
                                  bool flood) {
  FloodReader reader(peer.Fd(), threads);
  Worker reading([&] { reader.Run(); }, [&] { ::shutdown(peer.Fd(), SHUT_RDWR); });
  peer.Send(InitRequest("init"));
  reader.AwaitAnswer("init");
  if (flood) {
    peer.Send(DownloadDirRequest(kBurstId));
    reader.AwaitLogLines(kFloodUnderWay);
  }
  const std::size_t linesBefore = reader.LogLines();
  const Clock::time_point first = Clock::now();
  std::vector<double> microseconds;
  microseconds.reserve(count);
  for (std::size_t i = 0; i < kWarmUp + count; ++i) {
    const std::string id = std::to_string(i);
    const Clock::time_point start = Clock::now();
    peer.Send(VersionRequest(id));
    const Clock::time_point end = reader.AwaitAnswer(id);
    if (i >= kWarmUp) microseconds.push_back(Seconds(end - start) * 1e6);
  }
  const double seconds = Seconds(Clock::now() - first);
  const std::size_t lines = reader.LogLines() - linesBefore;
  return FloodLatency{Percentile(microseconds, 0.50), Percentile(microseconds, 0.99),
                      static_cast<double>(lines) / seconds};
}

}  // namespace electron_morvane::bench
