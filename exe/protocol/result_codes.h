#pragma once

#include <string>

#include "common/result_code.h"

namespace electron_morvane {

// The fixed status text of a result code; "unknown" for codes outside the table.
std::string StatusString(ResultCode code);

}  // namespace electron_morvane
