#include "core/diagnostics.h"

#include <cstdarg>
#include <cstdio>
#include <string>

void Diagnostics::line(const char* text) const {
  if (to_ == nullptr) {
    std::fputs(text, stderr);
  } else {
    to_(context_, text);
  }
}

void Diagnostics::printf(const char* format, ...) const {
  char small[512];
  va_list args;
  va_start(args, format);
  int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  if (length < 0) return;
  if (static_cast<size_t>(length) < sizeof small) return line(small);
  // A line with a long path or message in it.
  std::string large(static_cast<size_t>(length) + 1, '\0');
  va_start(args, format);
  std::vsnprintf(large.data(), large.size(), format, args);
  va_end(args);
  line(large.c_str());
}
