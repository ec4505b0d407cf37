#include "output/stream.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "filter/globals.h"

namespace {

constexpr size_t kBufferSize = 64 * 1024;

// Every thread has its own stream (see filter/globals.h for the TLS model).
TALVERO_JOB_LOCAL uint8_t buffer[kBufferSize];
// Bytes of `buffer` the job has produced; bytes below `sent` are on stdout.
TALVERO_JOB_LOCAL std::atomic<size_t> fill{0};
TALVERO_JOB_LOCAL std::atomic<size_t> sent{0};
static_assert(std::atomic<size_t>::is_always_lock_free);

// errno of the write that failed; once set, nothing more is written.
TALVERO_JOB_LOCAL std::atomic<int> writeError{0};
static_assert(std::atomic<int>::is_always_lock_free);

TALVERO_JOB_LOCAL volatile sig_atomic_t flushing = 0;
using SignalHandler = void (*)(int);
TALVERO_JOB_LOCAL volatile SignalHandler deferredHandler = nullptr;

TALVERO_JOB_LOCAL std::string* captureSink = nullptr;
TALVERO_JOB_LOCAL OutWriter writer = nullptr;
TALVERO_JOB_LOCAL void* writerContext = nullptr;

// One write of flushed bytes: to this thread's writer, else to standard output.
ssize_t writeSome(const uint8_t* data, size_t length) {
  if (writer != nullptr) return writer(writerContext, data, length);
  return write(STDOUT_FILENO, data, length);
}

// Commits bytes already copied into buffer[fill, fill + count).
inline void commit(size_t count) {
  fill.store(fill.load(std::memory_order_relaxed) + count, std::memory_order_release);
}

}  // namespace

void outFlush() {
  flushing = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  size_t end = fill.load(std::memory_order_relaxed);
  size_t done = sent.load(std::memory_order_relaxed);
  if (captureSink != nullptr) {
    captureSink->append(reinterpret_cast<const char*>(buffer) + done, end - done);
    done = end;
  }
  while (done < end && deferredHandler == nullptr && writeError.load(std::memory_order_relaxed) == 0) {
    ssize_t n = writeSome(buffer + done, end - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      sent.store(done, std::memory_order_release);
    } else if (!(n < 0 && errno == EINTR && writer == nullptr)) {
      // A write that moves nothing without an error cannot be retried usefully either.
      writeError.store(n < 0 && errno != 0 ? errno : EIO, std::memory_order_relaxed);
    }
  }
  void (*handler)(int) = deferredHandler;
  if (handler == nullptr) {
    // After a write error the rest is dropped; the buffer starts empty.
    sent.store(0, std::memory_order_relaxed);
    fill.store(0, std::memory_order_release);
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  flushing = 0;
  if (handler != nullptr) {
    deferredHandler = nullptr;
    handler(SIGTERM);
  }
}

int outWriteError() {
  return writeError.load(std::memory_order_relaxed);
}

bool outDeferSignal(void (*handler)(int)) {
  if (flushing == 0) return false;
  deferredHandler = handler;
  return true;
}

void outByte(uint8_t byte) {
  if (fill.load(std::memory_order_relaxed) == kBufferSize) outFlush();
  buffer[fill.load(std::memory_order_relaxed)] = byte;
  commit(1);
}

namespace {

// Appends `length` bytes, handing `writeInto` each free stretch of the
// buffer to put them in, flushing whenever the buffer is full.
template <typename WriteInto>
void append(size_t length, WriteInto writeInto) {
  while (length > 0) {
    size_t at = fill.load(std::memory_order_relaxed);
    if (at == kBufferSize) {
      outFlush();
      at = 0;
    }
    size_t chunk = length < kBufferSize - at ? length : kBufferSize - at;
    writeInto(buffer + at, chunk);
    commit(chunk);
    length -= chunk;
  }
}

}  // namespace

void outBytes(const uint8_t* data, size_t length) {
  append(length, [&data](uint8_t* to, size_t count) {
    std::memcpy(to, data, count);
    data += count;
  });
}

void outRepeat(uint8_t byte, size_t count) {
  append(count, [byte](uint8_t* to, size_t n) { std::memset(to, byte, n); });
}

void outCapture(std::string* sink) {
  captureSink = sink;
  writeError.store(0, std::memory_order_relaxed);
  sent.store(0, std::memory_order_relaxed);
  fill.store(0, std::memory_order_relaxed);
}

void outSetWriter(OutWriter to, void* context) {
  writer = to;
  writerContext = context;
  writeError.store(0, std::memory_order_relaxed);  // a new destination starts without a failure
}
