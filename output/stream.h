// The one path by which printer bytes leave the filter.
//
// Each thread has its own stream: the filter's one thread writes to standard
// output, a Printer Application's job thread to its job's device.
//
// Bytes are gathered in a fixed in-memory buffer and written to standard
// output with write(2) when the buffer fills and on an explicit flush. The
// buffer's fill level and the count of its bytes already written are each
// updated by a single store after the bytes they cover are in place, so a
// SIGTERM handler can always tell exactly which bytes the job has produced
// and which of them have reached standard output. While a flush is inside
// write(2) the handler cannot know how much was written, so it only records
// the request; the flush finishes its bookkeeping and then runs the handler
// itself. No byte is ever written twice or lost.
//
// A write that fails (other than by an interrupting signal) ends the output:
// its error is kept for the job to report, and every byte produced after it
// is dropped, so a job whose output has gone away never blocks or loops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <sys/types.h>

// Appends one byte.
void outByte(uint8_t byte);

// Appends a run of bytes.
void outBytes(const uint8_t* data, size_t length);
inline void outBytes(std::span<const uint8_t> data) {
  outBytes(data.data(), data.size());
}

// Appends `count` copies of `byte`.
void outRepeat(uint8_t byte, size_t count);

// Appends a two-byte number, low byte first (the low 16 bits of `value`).
inline void outLe16(uint32_t value) {
  outByte(static_cast<uint8_t>(value & 0xFF));
  outByte(static_cast<uint8_t>((value >> 8) & 0xFF));
}

// Writes every buffered byte to standard output (or to the capture string).
// After a write error nothing is written (see outWriteError).
// Async-signal-safe when no capture string is set.
void outFlush();

// The errno of the write that failed, or 0 while every write has succeeded.
int outWriteError();

// For a signal handler: returns true when a flush is in progress, after
// recording that `handler` must run (with SIGTERM as its argument) as soon as
// that flush has finished. Returns false when the handler may go on at once.
// Async-signal-safe.
bool outDeferSignal(void (*handler)(int));

// Where this thread's flushed bytes go instead of standard output (a Printer
// Application's job device): called until it has taken every byte, it
// returns how many it took, or -1 on an error.
using OutWriter = ssize_t (*)(void* context, const uint8_t* data, size_t length);

// Sends this thread's flushed bytes to `to` (with `context`) from now on;
// nullptr restores standard output. Keeps what is buffered.
void outSetWriter(OutWriter to, void* context);

// Redirects flushed bytes into `sink` instead of standard output, for tests;
// nullptr restores standard output. Drops anything still buffered and
// forgets an earlier write error.
void outCapture(std::string* sink);
