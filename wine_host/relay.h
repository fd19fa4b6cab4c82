// Moves bytes unchanged between this process's standard handles (the test's end) and the pipe
// (the bridge's end).
#pragma once

#include "host_pipe.h"

namespace electron_morvane::wine_host {

// Standard input goes into the pipe and the pipe's bytes go to standard output, until the
// bridge closes its end (everything it wrote has then been passed on) or standard input ends.
// When the host's side ends, the pipe is closed, as a host application closes its end.
void RelayUntilEitherSideCloses(HostPipe& pipe);

}  // namespace electron_morvane::wine_host
