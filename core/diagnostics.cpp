// Diagnostic lines to standard error or to the job's own writer; see
// diagnostics.h.
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
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  int length = std::vsnprintf(nullptr, 0, format, args);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  va_end(args);
  line(text.c_str());
}
