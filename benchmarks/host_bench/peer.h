// One side of a measurement: a program started with MORVANE_PIPE naming a socket the host
// listens on in a fresh folder, and the connection it made. Destroying it closes the host's end
// and waits for the program to exit (killing it after a grace period).
#pragma once

#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

#include "child_process.h"
#include "host_socket.h"
#include "temp_folder.h"
#include "unique_fd.h"

namespace electron_morvane::bench {

struct PeerSetup {
  std::string label;  // "bridge" or "raw", for messages
  std::vector<std::string> command;
  std::map<std::string, std::string> environment;
  std::map<std::string, std::string> files;          // name -> contents, written into the folder
  std::map<std::string, std::string> pathVariables;  // variable -> name of a file in the folder
};

class Peer {
 public:
  explicit Peer(const PeerSetup& setup);

  const std::string& Label() const { return label_; }
  int Fd() const { return connection_.Get(); }
  Inbox& In() { return inbox_; }
  pid_t Pid() const { return child_.Pid(); }
  std::string File(const std::string& name) const { return folder_.File(name); }
  void Send(const std::string& text) { SendAll(Fd(), text); }

 private:
  ChildProcess Start(const PeerSetup& setup);

  std::string label_;
  TempFolder folder_;
  UniqueFd listener_;
  ChildProcess child_;
  UniqueFd connection_;
  Inbox inbox_;
};

}  // namespace electron_morvane::bench
