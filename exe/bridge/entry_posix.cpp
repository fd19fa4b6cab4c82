// The bridge's entry on POSIX. Its inputs are MORVANE_PIPE and MORVANE_PIPE_SECRET, read once;
// unset reads as the empty text.
#include <cstdlib>
#include <string>

#include "bridge/bridge_process.h"

namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace

int main() {
  const std::string pipePath = Variable("MORVANE_PIPE");
  const std::string pipeSecret = Variable("MORVANE_PIPE_SECRET");
  // Before the library is first called: programs it starts must not inherit the secret.
  ::unsetenv("MORVANE_PIPE_SECRET");
  return static_cast<int>(electron_morvane::RunBridge(pipePath, pipeSecret));
}
