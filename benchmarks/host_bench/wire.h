// The lines the host writes, and templates of the lines the bridge writes, from which the raw
// peer builds lines of the same size.
#pragma once

#include <cstdint>
#include <string>

namespace electron_morvane::bench {

// Host requests and events, each ended by a line feed.
std::string VersionRequest(const std::string& id);
std::string InitRequest(const std::string& id);
std::string DownloadDirRequest(const std::string& id);
// The host's answer to an "httpRequest" reverse request, carrying `body`.
std::string HttpAnswer(const std::string& reverseId, const std::string& body);
// A body of printable ASCII that JSON carries without escapes.
std::string BodyOfSize(std::size_t bytes);

// Placeholders in templates.
inline constexpr char kIdSlot[] = "@ID@";
inline constexpr char kTextSlot[] = "@TEXT@";

// `sample` with the first occurrence of `literal` replaced by `slot`; throws when absent.
std::string WithSlot(const std::string& sample, const std::string& literal,
                     const std::string& slot);

// A template split at its slots, filled without searching.
class LineTemplate {
 public:
  LineTemplate() = default;
  // A template with an id slot and, optionally, a text slot after it.
  explicit LineTemplate(const std::string& text);
  bool Empty() const { return parts_[0].empty(); }
  // The line with its line feed.
  std::string Fill(const std::string& id, const std::string& text = {}) const;

 private:
  std::string parts_[3];
  bool hasText_ = false;
};

// The value of `"id":"..."` in a line, or the empty text.
std::string IdOf(const std::string& line);
// The text of the log lines the library fires: thread and sequence numbers after a word.
std::string LogText(std::uint32_t thread, std::uint32_t sequence);
inline constexpr char kLogWord[] = "bench";

}  // namespace electron_morvane::bench
