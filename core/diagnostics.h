// Where a job's diagnostic lines go. The filter writes each line to standard
// error as it happens, where the spooler reads it; the Printer Application
// passes each line to the job's own log. Code that reports something takes
// the job's Diagnostics and never writes to standard error itself.
#pragma once

class Diagnostics {
 public:
  // Takes one whole line, its "\n" included.
  using LineWriter = void (*)(void* context, const char* line);

  // Lines go to standard error.
  Diagnostics() = default;
  // Lines go to `to`, called with `context`.
  Diagnostics(LineWriter to, void* context) : to_(to), context_(context) {}

  // Reports `text`, one whole line ending in "\n".
  void line(const char* text) const;

  // Reports the line that printf would make of `format` and its arguments.
  void printf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

 private:
  LineWriter to_ = nullptr;
  void* context_ = nullptr;
};
