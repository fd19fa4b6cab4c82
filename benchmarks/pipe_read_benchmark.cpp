// How fast PipeClient takes lines out of a real socket. No thread is started inside the timed
// loop: either one writer thread keeps the socket full for the whole run, or the reading thread
// puts the line in itself with the timer stopped.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>
#include <utility>

#include "transport/pipe_client.h"

namespace electron_morvane {
namespace {

struct Connection {
  Connection() {
    char folder[] = "/tmp/mvb-bench-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return;
    directory = folder;
    path = directory + "/b.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, 1) != 0) {
      return;
    }
    client.SetPipeName(path);
    if (client.Connect() != 0) return;
    host = ::accept(listener, nullptr, nullptr);
  }
  ~Connection() {
    client.Close();
    if (host >= 0) ::close(host);
    if (listener >= 0) ::close(listener);
    if (!path.empty()) ::unlink(path.c_str());
    if (!directory.empty()) ::rmdir(directory.c_str());
  }
  bool Ready() const { return host >= 0; }

  std::string directory;
  std::string path;
  int listener = -1;
  int host = -1;
  PipeClient client;
};

bool WriteAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<std::size_t>(n);
  }
  return true;
}

// One thread, started before the timed loop, that writes the same line again and again for as
// long as the benchmark runs, so the reader always finds lines waiting (a host's burst). Lines
// longer than the socket's buffer stream in while the reader takes them out.
class StreamingWriter {
 public:
  StreamingWriter(int fd, std::string line)
      : fd_(fd), line_(std::move(line)), thread_([this] {
          while (!stop_.load(std::memory_order_relaxed) && WriteAll(fd_, line_)) {
          }
        }) {}
  // A writer blocked on a full socket only returns once the socket is shut down.
  ~StreamingWriter() {
    stop_.store(true, std::memory_order_relaxed);
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
  }
  StreamingWriter(const StreamingWriter&) = delete;
  StreamingWriter& operator=(const StreamingWriter&) = delete;

 private:
  int fd_;
  std::string line_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::string LineOfSize(int64_t size) {
  std::string line(static_cast<std::size_t>(size) - 1, 'x');
  line += '\n';
  return line;
}

// Lines queued back to back, read one at a time.
void ReadLineOfSize(benchmark::State& state) {
  Connection connection;
  if (!connection.Ready()) return state.SkipWithError("no connection");
  const std::string line = LineOfSize(state.range(0));
  const StreamingWriter writer(connection.host, line);
  for (auto _ : state) {
    bool ok = false;
    SystemError error = 0;
    const std::string read = connection.client.ReadLine(ok, error);
    if (!ok || read.size() != line.size()) {
      state.SkipWithError("read failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ReadLineOfSize)->Arg(256)->Arg(64 << 10)->Arg(1 << 20)->UseRealTime();

// Exactly one line waiting at each read, as when the host sends one request and waits. The line
// is written by this thread with the timer stopped; it must fit in the socket's buffer.
void ReadLineAlone(benchmark::State& state) {
  Connection connection;
  if (!connection.Ready()) return state.SkipWithError("no connection");
  const std::string line = LineOfSize(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const bool written = WriteAll(connection.host, line);
    state.ResumeTiming();
    bool ok = false;
    SystemError error = 0;
    const std::string read = connection.client.ReadLine(ok, error);
    if (!written || !ok || read.size() != line.size()) {
      state.SkipWithError("read failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ReadLineAlone)->Arg(256)->Arg(16 << 10)->UseRealTime();

}  // namespace
}  // namespace electron_morvane
