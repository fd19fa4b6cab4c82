// The host's side of the pipe for the pipe-client suite, one twin per platform
// (host_end_posix.cpp: a listening Unix socket; host_end_win.cpp: a named pipe server), so the
// same tests run natively on Linux and on the Windows build under Wine.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace electron_morvane::testing {

class HostEnd {
 public:
  // Creates the pipe, ready for a client to connect to PipeName().
  HostEnd();
  ~HostEnd();
  HostEnd(const HostEnd&) = delete;
  HostEnd& operator=(const HostEnd&) = delete;

  const std::string& PipeName() const;
  // Takes the connection a client has made, also one it has closed since.
  void Accept();
  // Gets ready for one more connection beside the current one.
  void OfferAnotherConnection();
  // Writes all the bytes.
  void Write(const std::string& bytes);
  // Reads exactly count bytes, waiting for them; fewer if the client hangs up, or when no byte
  // comes for kSilenceLimitMs: a client that never writes fails its test instead of hanging it.
  std::string Read(std::size_t count);
  static constexpr int kSilenceLimitMs = 5000;
  // True when the client has closed the current connection (a read finds its end).
  bool ClientHungUp();
  // Closes the current connection.
  void HangUp();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace electron_morvane::testing
