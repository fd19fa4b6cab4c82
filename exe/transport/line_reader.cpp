#include "transport/line_reader.h"

#include <algorithm>
#include <new>
#include <utility>

#include "transport/transfer_all.h"

namespace electron_morvane {
namespace {

using platform::StepResult;
using platform::TransferAll;
using platform::TransferResult;

// A line is looked for with a small peek that doubles while no line feed is in it: a peek costs
// what it copies, and many short lines may be waiting behind this one.
constexpr std::size_t kFirstPeek = 1024;
constexpr std::size_t kLargestPeek = 256 * 1024;
// What is left of a line that cannot be held in memory is taken out through this, on the stack.
constexpr std::size_t kDiscardChunk = 16 * 1024;

// Takes exactly count bytes, known to be waiting, into data. A read that moves nothing fails.
TransferResult TakeExactly(ByteSource& source, char* data, std::size_t count) {
  return TransferAll(count, [&](std::size_t done) { return source.Read(data + done, count - done); });
}

struct Taken {
  TransferResult outcome;
  // Bytes the last peek saw beyond the line feed and where in its chunk they start.
  std::size_t seenBeyond = 0;
  std::size_t beyondAt = 0;
};

// Takes bytes out through the next line feed, a chunk at a time, handing each chunk to keep. Looks
// at what is waiting first, then takes out exactly the bytes up to and including the line feed,
// or all of them when no line feed is there yet. With nothing waiting it blocks for one byte,
// which cannot go past a line feed. chunkFor(size) gives a buffer of at least size bytes (or
// fewer, its most).
template <typename ChunkFor, typename Keep>
Taken TakeThroughLineFeed(ByteSource& source, ChunkFor chunkFor, Keep keep) {
  std::size_t total = 0;
  std::size_t peekSize = kFirstPeek;
  for (;;) {
    const std::pair<char*, std::size_t> buffer = chunkFor(peekSize);
    char* const chunk = buffer.first;
    const std::size_t chunkSize = buffer.second;
    const StepResult peeked = source.Peek(chunk, chunkSize);
    if (!peeked.ok) return Taken{{false, peeked.error, total}};
    const std::size_t seen = std::min(peeked.moved, chunkSize);
    const char* end = chunk + seen;
    const char* feed = std::find(static_cast<const char*>(chunk), end, '\n');
    const std::size_t take = seen == 0      ? 1
                             : feed == end ? seen
                                           : static_cast<std::size_t>(feed - chunk) + 1;
    const TransferResult taken = TakeExactly(source, chunk, take);
    if (!taken.ok) return Taken{{false, taken.error, total + taken.bytes}};
    keep(chunk, take);
    total += take;
    if (seen == 0) {
      if (chunk[0] == '\n') return Taken{{true, kErrorSuccess, total}};
      continue;
    }
    if (feed != end) return Taken{{true, kErrorSuccess, total}, seen - take, take};
    if (take == chunkSize) peekSize = std::min(peekSize * 2, kLargestPeek);
  }
}

}  // namespace

LineRead LineReader::ReadLine(ByteSource& source, std::string& line) {
  line.clear();
  TransferResult outcome;
  try {
    const char* known = lookAhead.buffer.data() + lookAhead.at;
    const char* feed = std::find(known, known + lookAhead.waiting, '\n');
    if (feed != known + lookAhead.waiting) {
      const std::size_t size = static_cast<std::size_t>(feed - known) + 1;
      line.resize(size);
      outcome = TakeExactly(source, line.data(), size);
      lookAhead.at += size;
      lookAhead.waiting -= size;
    } else {
      lookAhead.waiting = 0;
      std::vector<char>& buffer = lookAhead.buffer;
      const Taken taken = TakeThroughLineFeed(
          source,
          [&buffer](std::size_t size) {
            if (buffer.size() < size) buffer.resize(size);
            return std::pair<char*, std::size_t>(buffer.data(), size);
          },
          [&line](const char* bytes, std::size_t size) { line.append(bytes, size); });
      outcome = taken.outcome;
      lookAhead.at = taken.beyondAt;
      lookAhead.waiting = taken.seenBeyond;
    }
  } catch (const std::bad_alloc&) {
    lookAhead.waiting = 0;
    std::string().swap(line);
    char chunk[kDiscardChunk];
    const Taken discarded = TakeThroughLineFeed(
        source,
        [&chunk](std::size_t size) {
          return std::pair<char*, std::size_t>(chunk, std::min(size, sizeof(chunk)));
        },
        [](const char*, std::size_t) {});
    if (!discarded.outcome.ok) return LineRead{LineStatus::kFailed, discarded.outcome.error};
    return LineRead{LineStatus::kDroppedForMemory, kErrorNotEnoughMemory};
  }
  if (!outcome.ok) {
    lookAhead.waiting = 0;
    line.clear();
    return LineRead{LineStatus::kFailed, outcome.error};
  }
  return LineRead{LineStatus::kLine, kErrorSuccess};
}

}  // namespace electron_morvane
