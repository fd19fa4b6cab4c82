// What the bridge must answer to one received line, worked out from the line alone by the rules
// of the README's table of bad input, and the check of what it did answer. Only the router's own
// answers (response, error, fatal) are counted here: the library may add reverse requests and
// job events to any line that reaches it.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace electron_morvane::fuzz {

// The messages written for one received line, parsed, in the order written.
using Messages = std::vector<const nlohmann::json*>;

struct ExpectedAnswer {
  enum class Kind {
    kNothing,       // an answer or an unknown type, an unknown request
    kFatal,         // exactly one fatal with `fatalText` (or starting with it, `fatalIsPrefix`)
    kAnswer,        // exactly one response or error for `request`
    kEventHandled,  // a known event: nothing, or a fatal "parse event failed <method>"
  };
  // Whether a request of the table must, may or cannot decode.
  enum class Decoding { kMust, kMay, kCannot };

  Kind kind = Kind::kNothing;
  std::string fatalText;
  bool fatalIsPrefix = false;
  nlohmann::json request;  // the parsed line, for kAnswer and kEventHandled
  Decoding decoding = Decoding::kMay;
};

ExpectedAnswer ExpectAnswer(const std::string& line);

// Stops the process (Violation) unless the router's answers among `written` match `expected`.
// `written` and `lines` are the parsed and the raw lines written for `received`.
void CheckAnswer(const ExpectedAnswer& expected, const std::string& received,
                 const Messages& written, const std::vector<std::string>& lines);

// True for the router's own answer types: response, error, fatal.
bool IsRouterAnswer(const nlohmann::json& message);

}  // namespace electron_morvane::fuzz
