// The job's output sink: the buffer, its flush and the signal hand-over; see output_sink.h.
#include "core/output_sink.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

// One write of flushed bytes: to the writer, else to standard output.
ssize_t OutputSink::writeSome(const uint8_t* data, size_t length) {
  if (writer_ != nullptr) return writer_(writerContext_, data, length);
  return write(STDOUT_FILENO, data, length);
}

void OutputSink::flush() {
  flushing_ = 1;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  size_t end = fill_.load(std::memory_order_relaxed);
  size_t done = sent_.load(std::memory_order_relaxed);
  while (done < end && deferredHandler_ == nullptr && writeError_.load(std::memory_order_relaxed) == 0) {
    ssize_t n = writeSome(buffer_ + done, end - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      sent_.store(done, std::memory_order_release);
    } else if (!(n < 0 && errno == EINTR && writer_ == nullptr)) {
      // A write that moves nothing without an error cannot be retried usefully either.
      writeError_.store(n < 0 && errno != 0 ? errno : EIO, std::memory_order_relaxed);
    }
  }
  void (*handler)(int) = deferredHandler_;
  if (handler == nullptr) {
    // After a write error the rest is dropped; the buffer starts empty.
    sent_.store(0, std::memory_order_relaxed);
    fill_.store(0, std::memory_order_release);
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  flushing_ = 0;
  if (handler != nullptr) {
    deferredHandler_ = nullptr;
    handler(SIGTERM);
  }
}

bool OutputSink::deferSignal(void (*handler)(int)) {
  if (flushing_ == 0) return false;
  deferredHandler_ = handler;
  return true;
}

// Appends `length` bytes, handing `writeInto` each free stretch of the
// buffer to put them in, flushing whenever the buffer is full.
template <typename WriteInto>
void OutputSink::append(size_t length, WriteInto writeInto) {
  while (length > 0) {
    size_t at = fill_.load(std::memory_order_relaxed);
    if (at == kBufferSize) {
      flush();
      at = 0;
    }
    size_t chunk = length < kBufferSize - at ? length : kBufferSize - at;
    writeInto(buffer_ + at, chunk);
    commit(chunk);
    length -= chunk;
  }
}

void OutputSink::put(const uint8_t* data, size_t length) {
  append(length, [&data](uint8_t* to, size_t count) {
    std::memcpy(to, data, count);
    data += count;
  });
}

void OutputSink::putRepeated(uint8_t byte, size_t count) {
  append(count, [byte](uint8_t* to, size_t n) { std::memset(to, byte, n); });
}

ssize_t appendToString(void* context, const uint8_t* data, size_t length) {
  static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(data), length);
  return static_cast<ssize_t>(length);
}
