// The members each kind of message the bridge writes carries, as the README's protocol tables
// give them: the envelope of every type, the params of each reverse request and job event, and
// the result of a response.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace electron_morvane::fuzz {

// Stops the process (Violation) when `message`, written as `line`, breaks its shape.
void CheckMessageShape(const nlohmann::json& message, const std::string& line);

}  // namespace electron_morvane::fuzz
