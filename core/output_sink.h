// The output sink of a job: the one path by which printer bytes leave it.
//
// Each job owns one sink. The filter's sink writes to standard output; a
// Printer Application's sink hands its bytes to the job's device through a
// writer; a test's sink gathers them in a string.
//
// Bytes are gathered in a fixed in-memory buffer and written out when the
// buffer fills and on an explicit flush. The buffer's fill level and the
// count of its bytes already written are each updated by a single store
// after the bytes they cover are in place, so a SIGTERM handler can always
// tell exactly which bytes the job has produced and which of them have been
// written. While a flush is inside write(2) the handler cannot know how much
// was written, so it only records the request; the flush finishes its
// bookkeeping and then runs the handler itself. No byte is ever written
// twice or lost.
//
// A write that fails (other than by an interrupting signal) ends the output:
// its error is kept for the job to report, and every byte produced after it
// is dropped, so a job whose output has gone away never blocks or loops.
#pragma once

#include <atomic>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include <sys/types.h>

class OutputSink {
 public:
  // Where flushed bytes go instead of standard output (a Printer
  // Application's job device): called until it has taken every byte, it
  // returns how many it took, or -1 on an error.
  using Writer = ssize_t (*)(void* context, const uint8_t* data, size_t length);

  // A sink whose flushed bytes go to standard output.
  OutputSink() = default;
  // A sink whose flushed bytes go to `to`, called with `context`.
  OutputSink(Writer to, void* context) : writer_(to), writerContext_(context) {}
  OutputSink(const OutputSink&) = delete;
  OutputSink& operator=(const OutputSink&) = delete;

  // Appends one byte.
  void put(uint8_t byte) {
    if (fill_.load(std::memory_order_relaxed) == kBufferSize) flush();
    buffer_[fill_.load(std::memory_order_relaxed)] = byte;
    commit(1);
  }

  // Appends a run of bytes.
  void put(const uint8_t* data, size_t length);
  void put(std::span<const uint8_t> data) { put(data.data(), data.size()); }

  // Appends `count` copies of `byte`.
  void putRepeated(uint8_t byte, size_t count);

  // Appends a two-byte number, low byte first (the low 16 bits of `value`).
  void putLe16(uint32_t value) {
    put(static_cast<uint8_t>(value & 0xFF));
    put(static_cast<uint8_t>((value >> 8) & 0xFF));
  }

  // Writes every buffered byte out. After a write error nothing is written
  // (see writeError). Async-signal-safe when the writer is.
  void flush();

  // The errno of the write that failed, or 0 while every write has succeeded.
  int writeError() const { return writeError_.load(std::memory_order_relaxed); }

  // For a signal handler: returns true when a flush is in progress, after
  // recording that `handler` must run (with SIGTERM as its argument) as soon
  // as that flush has finished. Returns false when the handler may go on at
  // once. Async-signal-safe.
  bool deferSignal(void (*handler)(int));

 private:
  static constexpr size_t kBufferSize = 64 * 1024;

  // Commits bytes already copied into buffer_[fill_, fill_ + count).
  void commit(size_t count) {
    fill_.store(fill_.load(std::memory_order_relaxed) + count, std::memory_order_release);
  }
  template <typename WriteInto>
  void append(size_t length, WriteInto writeInto);
  ssize_t writeSome(const uint8_t* data, size_t length);

  Writer writer_ = nullptr;  // nullptr: standard output
  void* writerContext_ = nullptr;
  // Bytes of buffer_ the job has produced; bytes below sent_ are written.
  std::atomic<size_t> fill_{0};
  std::atomic<size_t> sent_{0};
  std::atomic<int> writeError_{0};  // errno of the write that failed
  volatile sig_atomic_t flushing_ = 0;
  void (*volatile deferredHandler_)(int) = nullptr;
  uint8_t buffer_[kBufferSize];  // not cleared: only bytes below fill_ are read
  static_assert(std::atomic<size_t>::is_always_lock_free);
  static_assert(std::atomic<int>::is_always_lock_free);
};

// An OutputSink::Writer that appends the bytes to the std::string at
// `context` (tests, fuzzing, benchmarks).
ssize_t appendToString(void* context, const uint8_t* data, size_t length);
