// Writing whole lines to the pipe from any number of threads, written once for both platforms.
//
// Lines from the library's threads go into a small bounded queue that a writer thread of its own
// empties, several lines to a write; a thread that queues a line goes on at once and sleeps only
// while the queue is full. So a flood of log lines from many threads neither hands a lock from
// thread to thread for every line nor keeps the threads flooding runnable while the host catches
// up.
//
// An urgent line (a reply, from the thread that reads the pipe) is written by its own thread as
// soon as the write in flight ends, together with the lines queued before it: it never waits
// behind other threads' turns, only behind the bounded queue, and its caller learns how its
// write ended. Lines queued before it still leave before it, so an event the library reported
// before its call returned reaches the host before that call's response.
//
// Lines never interleave and every line leaves in the order it was queued, so each thread's lines
// keep their order. A write carries whole lines (on a message-type pipe, one message may hold
// several).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "transport/system_error.h"
#include "transport/transfer_all.h"

namespace electron_morvane {

class LineWriter {
 public:
  // Writes all of the bytes, or tells how it failed: the pipe's writes, looped over partial ones.
  using WriteAll = std::function<platform::TransferResult(const char* data, std::size_t size)>;

  // Queued lines waiting for the writer thread, at most (a longer line is taken alone, once the
  // queue is empty). Large enough for writes of many lines, small enough that a reply waits
  // behind little: the benchmark's flood (benchmarks/README.md) chose it.
  static constexpr std::size_t kQueueBound = 2 * 1024;

  explicit LineWriter(WriteAll writeAll, std::size_t queueBound = kQueueBound);
  // Stops as Stop does, with nothing to interrupt a write: the write function must return.
  ~LineWriter();
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  struct Outcome {
    bool ok = false;
    SystemError error = kErrorSuccess;
  };

  // `line` must end with its line feed. Urgent: returns once the line is written, with the
  // write's outcome. Otherwise: returns once the line is queued (ok), blocking while the queue
  // is full; a failure of its later write is not reported to it.
  Outcome Write(std::string line, bool urgent);

  // Every queued line is dropped and every waiting and later Write fails (broken pipe). A write
  // in flight goes on: the caller ends it on the pipe. Never blocks.
  void Fail();

  // Writes what is queued (unless Fail came first), then fails as Fail does and waits for the
  // writer thread to end, calling `interruptWrite` every few milliseconds while a write is still
  // in flight (a transfer that started after one interrupt is ended by the next). A host that
  // has stopped reading holds it up until the pipe is failed.
  void Stop(const std::function<void()>& interruptWrite);

 private:
  Outcome Queue(std::string line);
  Outcome WriteUrgent(std::string line);
  void RunWriterThread();
  // Appends the line to the queue; the caller holds the mutex.
  void Enqueue(std::string& line);
  // After a batch is written: clears it, keeping its memory unless a huge line grew it.
  void Recycle(std::string& batch) const;

  const WriteAll writeAll;
  const std::size_t queueBound;

  std::mutex mutex;
  // The lines queued, in order; `queuedFrom` counts every byte ever taken out of it.
  std::string queue;
  std::uint64_t queuedFrom = 0;
  // A batch is being written, by the writer thread or by an urgent writer.
  bool writing = false;
  bool failed = false;
  bool threadEnded = false;
  // An urgent writer has queued its line and waits for its turn: the writer thread takes nothing.
  bool urgentWaiting = false;
  int roomWaiters = 0;
  // An urgent writer made room while threads waited for it: the writer thread wakes them.
  bool roomOwed = false;
  std::condition_variable work;          // the writer thread: lines queued, room owed, turn over
  std::condition_variable room;          // writers waiting for the queue to empty
  std::condition_variable turn;          // the urgent writer: the write in flight ended
  std::condition_variable stateChanged;  // Stop: a write ended, the writer thread left
  // One urgent line at a time: each writes its own batch.
  std::mutex urgentMutex;
  std::thread writerThread;
};

}  // namespace electron_morvane
