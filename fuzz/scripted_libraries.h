// The driver libraries the fuzzer plays against: scenarios of the scriptable library, one of
// which the first byte of each input picks, so that the library's callbacks and answers take
// part in what the bridge writes.
#pragma once

#include <cstdint>

#include <nlohmann/json.hpp>

#include "scriptable_control.h"

namespace electron_morvane::fuzz {

// The scenario for an input's first byte: '0' picks the first, '1' the second, and so on,
// wrapping around; every byte picks one. Parsed once for the process, with a call log that keeps
// only the calls of Morvane_InitSDK (all the harness asks of it).
const scriptable_sdk::PreparedScenario& PreparedScenarioFor(std::uint8_t selector);

// A library that fills in no response functions, prepared once: the init that makes the bridge
// forget the last input's init runs against it.
const scriptable_sdk::PreparedScenario& ForgettingScenario();

}  // namespace electron_morvane::fuzz
