// How fast PipeClient takes lines out of a real socket.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

#include "transport/pipe_client.h"

namespace electron_morvane {
namespace {

struct Connection {
  Connection() {
    char folder[] = "/tmp/mvb-bench-XXXXXX";
    ::mkdtemp(folder);
    path = std::string(folder) + "/b.sock";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, path.c_str());
    listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener, 1);
    client.SetPipeName(path);
    client.Connect();
    host = ::accept(listener, nullptr, nullptr);
  }
  ~Connection() {
    client.Close();
    ::close(host);
    ::close(listener);
    ::unlink(path.c_str());
  }
  std::string path;
  int listener = -1;
  int host = -1;
  PipeClient client;
};

void WriteAll(int fd, const std::string& data) {
  std::size_t sent = 0;
  while (sent < data.size()) {
    const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) return;
    sent += static_cast<std::size_t>(n);
  }
}

void ReadLineOfSize(benchmark::State& state) {
  Connection connection;
  std::string line(static_cast<std::size_t>(state.range(0)) - 1, 'x');
  line += '\n';
  for (auto _ : state) {
    std::thread writer([&] { WriteAll(connection.host, line); });
    bool ok = false;
    SystemError error = 0;
    benchmark::DoNotOptimize(connection.client.ReadLine(ok, error));
    writer.join();
    if (!ok) state.SkipWithError("read failed");
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(ReadLineOfSize)->Arg(256)->Arg(64 << 10)->Arg(1 << 20)->UseRealTime();

// Many short lines already waiting, as when the host sends a burst of requests.
void ReadShortLinesBackToBack(benchmark::State& state) {
  Connection connection;
  const std::string line(199, 'y');
  std::string burst;
  for (int i = 0; i < 1000; ++i) burst += line + "\n";
  for (auto _ : state) {
    std::thread writer([&] { WriteAll(connection.host, burst); });
    bool ok = true;
    SystemError error = 0;
    for (int i = 0; i < 1000 && ok; ++i) benchmark::DoNotOptimize(connection.client.ReadLine(ok, error));
    writer.join();
  }
  state.SetItemsProcessed(state.iterations() * 1000);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(burst.size()));
}
BENCHMARK(ReadShortLinesBackToBack)->UseRealTime();

}  // namespace
}  // namespace electron_morvane
