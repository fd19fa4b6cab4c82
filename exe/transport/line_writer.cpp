#include "transport/line_writer.h"

#include <chrono>
#include <utility>

namespace electron_morvane {
namespace {

constexpr std::chrono::milliseconds kInterruptInterval{10};
constexpr LineWriter::Outcome kFailed{false, kErrorBrokenPipe};

}  // namespace

LineWriter::LineWriter(WriteAll writeAll, std::size_t queueBound)
    : writeAll(std::move(writeAll)), queueBound(queueBound) {
  writerThread = std::thread([this] { RunWriterThread(); });
}

LineWriter::~LineWriter() {
  if (writerThread.joinable()) Stop([] {});
}

LineWriter::Outcome LineWriter::Write(std::string line, bool urgent) {
  return urgent ? WriteUrgent(std::move(line)) : Queue(std::move(line));
}

LineWriter::Outcome LineWriter::Queue(std::string line) {
  std::unique_lock<std::mutex> lock(mutex);
  const auto fits = [&] {
    return failed || queue.empty() || queue.size() + line.size() <= queueBound;
  };
  if (!fits()) {
    ++roomWaiters;
    room.wait(lock, fits);
    --roomWaiters;
  }
  if (failed) return kFailed;
  Enqueue(line);
  const bool wake = !writing && !urgentWaiting;
  lock.unlock();
  if (wake) work.notify_one();
  return Outcome{true, kErrorSuccess};
}

LineWriter::Outcome LineWriter::WriteUrgent(std::string line) {
  std::lock_guard<std::mutex> oneUrgent(urgentMutex);
  std::unique_lock<std::mutex> lock(mutex);
  if (failed) return kFailed;
  Enqueue(line);
  const std::uint64_t lineEnd = queuedFrom + queue.size();
  urgentWaiting = true;
  turn.wait(lock, [&] { return failed || !writing; });
  urgentWaiting = false;
  if (failed) return kFailed;
  // The lines queued before this one go with it; the ones queued since stay for the writer
  // thread.
  const std::size_t count = static_cast<std::size_t>(lineEnd - queuedFrom);
  std::string batch;
  if (count == queue.size()) {
    batch.swap(queue);
  } else {
    batch.assign(queue, 0, count);
    queue.erase(0, count);
  }
  queuedFrom += count;
  writing = true;
  // The writer thread wakes the threads waiting for room, after this write: waking them is
  // costly, and this thread's caller waits for its reply to leave.
  roomOwed = roomOwed || roomWaiters > 0;
  lock.unlock();
  const platform::TransferResult written = writeAll(batch.data(), batch.size());
  lock.lock();
  writing = false;
  const bool more = !queue.empty() || roomOwed;
  lock.unlock();
  if (more) work.notify_one();
  stateChanged.notify_all();
  return Outcome{written.ok, written.error};
}

void LineWriter::RunWriterThread() {
  std::string batch;
  std::unique_lock<std::mutex> lock(mutex);
  for (;;) {
    work.wait(lock, [&] {
      return failed || ((!queue.empty() || roomOwed) && !writing && !urgentWaiting);
    });
    if (failed) break;
    roomOwed = false;
    const bool wakeRoom = roomWaiters > 0;
    if (!queue.empty()) {
      batch.swap(queue);
      queuedFrom += batch.size();
      writing = true;
      lock.unlock();
      // A failed write loses its lines, as a failed write of one line did; the next batch is
      // tried all the same: whether the pipe is gone is for the reader to find.
      writeAll(batch.data(), batch.size());
      Recycle(batch);
      lock.lock();
      writing = false;
      if (urgentWaiting) turn.notify_one();
      stateChanged.notify_all();
    }
    // Only now, after the write and once a waiting reply has its turn, are the threads waiting
    // for room woken: waking many threads is the costliest step of a flood, and a reply must
    // not wait for it.
    if (wakeRoom) {
      lock.unlock();
      room.notify_all();
      lock.lock();
    }
  }
  threadEnded = true;
  stateChanged.notify_all();
}

void LineWriter::Enqueue(std::string& line) {
  // Into an empty queue the line moves instead of being copied: a reply alone, a huge line.
  if (queue.empty()) {
    queue.swap(line);
  } else {
    queue += line;
  }
}

void LineWriter::Recycle(std::string& batch) const {
  if (batch.capacity() > 4 * queueBound) {
    std::string().swap(batch);
  } else {
    batch.clear();
  }
}

void LineWriter::Fail() {
  {
    std::lock_guard<std::mutex> lock(mutex);
    failed = true;
    std::string().swap(queue);
  }
  work.notify_all();
  room.notify_all();
  turn.notify_all();
  // A Stop waiting for the write in flight goes on to interrupt it.
  stateChanged.notify_all();
}

void LineWriter::Stop(const std::function<void()>& interruptWrite) {
  {
    std::unique_lock<std::mutex> lock(mutex);
    stateChanged.wait(lock, [&] { return failed || (queue.empty() && !writing); });
  }
  Fail();
  std::unique_lock<std::mutex> lock(mutex);
  while (!threadEnded) {
    if (writing) {
      lock.unlock();
      interruptWrite();
      lock.lock();
    }
    stateChanged.wait_for(lock, kInterruptInterval, [&] { return threadEnded; });
  }
  lock.unlock();
  writerThread.join();
}

}  // namespace electron_morvane
