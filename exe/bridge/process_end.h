// How the bridge process ends once its exit steps are done: at once, with the exit code, and
// without the process-wide teardown. Library threads released at the exit may still be running
// then; static destructors and the library's own detach would race them (under Wine the process
// was seen to deadlock inside its exit, after every exit step had run, and never end).
#pragma once

#include "transport/system_error.h"

namespace electron_morvane {

// Ends the process with `code`. Where the leak checker is built in, it runs first.
[[noreturn]] void EndProcess(SystemError code);

}  // namespace electron_morvane
