// The few system calls the pipe client needs, one twin file per platform. Every failure comes
// back as a Windows system error code.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "transport/system_error.h"

namespace electron_morvane::platform {

// A file descriptor on POSIX, a HANDLE on Windows; -1 (INVALID_HANDLE_VALUE) when none is open.
using PipeHandle = std::intptr_t;
constexpr PipeHandle kNoPipe = -1;

struct IoOutcome {
  bool ok = false;
  SystemError error = kErrorSuccess;
  std::size_t bytes = 0;
  // After a line is read: bytes the last look-ahead saw beyond its line feed, still waiting, and
  // where in the look-ahead buffer they start.
  std::size_t seenBeyond = 0;
  std::size_t beyondAt = 0;
};

// Opens the host's pipe and puts it in byte read mode. On a failure after the open, the handle
// is still returned so the caller owns and closes it.
SystemError OpenPipe(const std::string& path, PipeHandle& handle);

// Bytes waiting to be read, without blocking. A peer that has closed its end is a failure
// (broken pipe), even while nothing is waiting.
IoOutcome BytesWaiting(PipeHandle handle);

// Appends bytes to line up to and including the next line feed, blocking until it arrives. Never
// takes a byte beyond the line feed out of the pipe. On failure line holds the partial bytes.
// scratch is the caller's buffer for looking ahead, kept from line to line: it grows as long
// lines need and is never allocated per line.
IoOutcome ReadThroughLineFeed(PipeHandle handle, std::string& line, std::vector<char>& scratch);

// Appends exactly count bytes taken out of the pipe to line; they are known to be waiting.
IoOutcome ReadExactly(PipeHandle handle, std::string& line, std::size_t count);

// Takes bytes out of the pipe up to and including the next line feed and drops them, without
// allocating: what is left of a line that could not be held in memory.
IoOutcome DiscardThroughLineFeed(PipeHandle handle);

// Writes the buffer with one system write (more only if the system accepts part of it).
IoOutcome WriteBuffer(PipeHandle handle, const char* data, std::size_t size);

void ClosePipe(PipeHandle handle);

// Makes every transfer on the pipe fail, including one that is blocked right now in another
// thread. The handle stays open.
void ShutdownPipe(PipeHandle handle);

// Waits until the pipe is readable (bytes, or the host hung up). POSIX waits on the socket itself
// and wakes at once; Windows has no such wait for a synchronous pipe and sleeps timeout instead.
void IdleWait(PipeHandle handle, std::chrono::milliseconds timeout);

}  // namespace electron_morvane::platform
