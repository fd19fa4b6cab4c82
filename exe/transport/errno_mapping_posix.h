#pragma once

#include "transport/system_error.h"

namespace electron_morvane {

// The Windows system error code a POSIX errno value stands for.
SystemError SystemErrorFromErrno(int errnoValue);

}  // namespace electron_morvane
