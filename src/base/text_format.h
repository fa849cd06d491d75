#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdio>

// printf-style formatting that takes no lock and never allocates, for the log
// and the crash report: it must work while another thread holds the process
// heap or the C runtime's locks. Knows the flags '-', '0', '+' and ' ',
// widths and precisions (also '*'), the sizes h, hh, l, ll and z, and the
// conversions d, i, u, x, X, o, c, s (with l: a wide string), p and %.
// Anything else is copied as written.
//
// The text goes into `data`; when it is full, `flush` (if set) empties it,
// else the rest is cut off.
struct TextSink {
  char* data;
  size_t size;
  size_t used;
  void (*flush)(TextSink& sink);
  void* context;
};

void FormatInto(TextSink& sink, const char* format, va_list args);
void AppendText(TextSink& sink, const char* text);

// vsnprintf's contract: always terminated (when size > 0); returns the length
// written.
size_t FormatText(char* out, size_t size, const char* format, va_list args);
size_t FormatTextf(char* out, size_t size, const char* format, ...)
    __attribute__((format(__MINGW_PRINTF_FORMAT, 3, 4)));
