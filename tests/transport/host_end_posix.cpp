#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "host_end.h"

namespace electron_morvane::testing {

struct HostEnd::State {
  std::string folder;
  std::string path;
  int listener = -1;
  int connection = -1;
};

HostEnd::HostEnd() : state_(std::make_unique<State>()) {
  std::string folder = "/tmp/morvane-host-end-XXXXXX";
  if (::mkdtemp(folder.data()) == nullptr) std::abort();
  state_->folder = folder;
  state_->path = folder + "/host.sock";
  state_->listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, state_->path.c_str(), sizeof(address.sun_path) - 1);
  EXPECT_EQ(::bind(state_->listener, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
  EXPECT_EQ(::listen(state_->listener, 4), 0);
}

HostEnd::~HostEnd() {
  HangUp();
  ::close(state_->listener);
  ::unlink(state_->path.c_str());
  ::rmdir(state_->folder.c_str());
}

const std::string& HostEnd::PipeName() const { return state_->path; }

void HostEnd::Accept() {
  HangUp();
  state_->connection = ::accept(state_->listener, nullptr, nullptr);
  ASSERT_GE(state_->connection, 0);
}

// The listener queues further connections by itself.
void HostEnd::OfferAnotherConnection() {}

void HostEnd::Write(const std::string& bytes) {
  ASSERT_EQ(::send(state_->connection, bytes.data(), bytes.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(bytes.size()));
}

std::string HostEnd::Read(std::size_t count) {
  std::string bytes(count, '\0');
  std::size_t done = 0;
  while (done < count) {
    pollfd readable{state_->connection, POLLIN, 0};
    if (::poll(&readable, 1, kSilenceLimitMs) <= 0) break;
    const ssize_t got = ::recv(state_->connection, bytes.data() + done, count - done, 0);
    if (got <= 0) break;
    done += static_cast<std::size_t>(got);
  }
  bytes.resize(done);
  return bytes;
}

bool HostEnd::ClientHungUp() {
  char byte;
  return ::recv(state_->connection, &byte, 1, 0) == 0;
}

void HostEnd::HangUp() {
  if (state_->connection >= 0) ::close(state_->connection);
  state_->connection = -1;
}

}  // namespace electron_morvane::testing
