#include "base/text_format.h"

#include <cstdint>

namespace {

void Put(TextSink& sink, char c) {
  if (sink.used == sink.size) {
    if (sink.flush == nullptr) return;
    sink.flush(sink);
    if (sink.used == sink.size) return;
  }
  sink.data[sink.used++] = c;
}

void Repeat(TextSink& sink, char c, int count) {
  for (; count > 0; --count) Put(sink, c);
}

struct Conversion {
  bool left = false, zero = false, plus = false, space = false;
  int width = 0;
  int precision = -1;
  int size = 0;  // -2 hh, -1 h, 0 int, 1 l, 2 ll, 3 z
};

// Pads `length` characters of `text` (narrow, or wide when `wide`) to the width.
void PutPadded(TextSink& sink, const Conversion& conversion, const void* text, size_t length, bool wide) {
  const int pad =
      conversion.width > static_cast<int>(length) ? conversion.width - static_cast<int>(length) : 0;
  if (!conversion.left) Repeat(sink, ' ', pad);
  for (size_t i = 0; i < length; ++i) {
    // Wide text is for names and paths: anything outside ASCII shows as '?'.
    const unsigned c =
        wide ? static_cast<const wchar_t*>(text)[i] : static_cast<const unsigned char*>(text)[i];
    Put(sink, c < 0x80 || !wide ? static_cast<char>(c) : '?');
  }
  if (conversion.left) Repeat(sink, ' ', pad);
}

void PutNumber(TextSink& sink, const Conversion& conversion, uint64_t magnitude, bool negative, unsigned base,
               bool upper) {
  char digits[24];
  int count = 0;
  const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  while (magnitude != 0) {
    digits[count++] = set[magnitude % base];
    magnitude /= base;
  }
  const int minimum = conversion.precision >= 0 ? conversion.precision : 1;
  const int zeros = minimum > count ? minimum - count : 0;
  const char sign = negative ? '-' : conversion.plus ? '+' : conversion.space ? ' ' : '\0';
  const int length = count + zeros + (sign != '\0' ? 1 : 0);
  const int pad = conversion.width > length ? conversion.width - length : 0;
  const bool zeroPad = conversion.zero && !conversion.left && conversion.precision < 0;
  if (!conversion.left && !zeroPad) Repeat(sink, ' ', pad);
  if (sign != '\0') Put(sink, sign);
  if (zeroPad) Repeat(sink, '0', pad);
  Repeat(sink, '0', zeros);
  while (count > 0) Put(sink, digits[--count]);
  if (conversion.left) Repeat(sink, ' ', pad);
}

int ReadNumber(const char*& at, va_list& args) {
  if (*at == '*') {
    ++at;
    return va_arg(args, int);
  }
  int value = 0;
  while (*at >= '0' && *at <= '9') value = value * 10 + (*at++ - '0');
  return value;
}

int64_t SignedArgument(int size, va_list& args) {
  if (size == 2) return va_arg(args, long long);
  if (size == 1) return va_arg(args, long);
  if (size == 3) return va_arg(args, ptrdiff_t);
  const int value = va_arg(args, int);
  return size == -1 ? static_cast<short>(value) : size == -2 ? static_cast<signed char>(value) : value;
}

uint64_t UnsignedArgument(int size, va_list& args) {
  if (size == 2) return va_arg(args, unsigned long long);
  if (size == 1) return va_arg(args, unsigned long);
  if (size == 3) return va_arg(args, size_t);
  const unsigned value = va_arg(args, unsigned);
  return size == -1   ? static_cast<unsigned short>(value)
         : size == -2 ? static_cast<unsigned char>(value)
                      : value;
}

template <typename Char>
size_t Length(const Char* text, int limit) {
  size_t length = 0;
  while ((limit < 0 || length < static_cast<size_t>(limit)) && text[length] != 0) ++length;
  return length;
}

}  // namespace

void AppendText(TextSink& sink, const char* text) {
  while (*text != '\0') Put(sink, *text++);
}

void FormatInto(TextSink& sink, const char* format, va_list args) {
  va_list rest;
  va_copy(rest, args);
  for (const char* at = format; *at != '\0';) {
    if (*at != '%') {
      Put(sink, *at++);
      continue;
    }
    const char* start = at++;
    Conversion conversion;
    for (;; ++at) {
      if (*at == '-')
        conversion.left = true;
      else if (*at == '0')
        conversion.zero = true;
      else if (*at == '+')
        conversion.plus = true;
      else if (*at == ' ')
        conversion.space = true;
      else
        break;
    }
    conversion.width = ReadNumber(at, rest);
    if (conversion.width < 0) {
      conversion.left = true;
      conversion.width = -conversion.width;
    }
    if (*at == '.') {
      ++at;
      conversion.precision = ReadNumber(at, rest);
    }
    for (;; ++at) {
      if (*at == 'h')
        --conversion.size;
      else if (*at == 'l')
        ++conversion.size;
      else if (*at == 'z')
        conversion.size = 3;
      else
        break;
    }
    switch (*at) {
      case 'd':
      case 'i': {
        const int64_t value = SignedArgument(conversion.size, rest);
        PutNumber(sink, conversion,
                  value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value), value < 0, 10,
                  false);
        break;
      }
      case 'u':
      case 'x':
      case 'X':
      case 'o':
        PutNumber(sink, conversion, UnsignedArgument(conversion.size, rest), false,
                  *at == 'u'   ? 10
                  : *at == 'o' ? 8
                               : 16,
                  *at == 'X');
        break;
      case 'p':
        conversion.zero = true;
        conversion.width = 8;
        PutNumber(sink, conversion, reinterpret_cast<uintptr_t>(va_arg(rest, void*)), false, 16, true);
        break;
      case 'c': {
        const char c = static_cast<char>(va_arg(rest, int));
        PutPadded(sink, conversion, &c, 1, false);
        break;
      }
      case 's':
        if (conversion.size > 0) {
          const wchar_t* text = va_arg(rest, const wchar_t*);
          if (text == nullptr) text = L"(null)";
          PutPadded(sink, conversion, text, Length(text, conversion.precision), true);
        } else {
          const char* text = va_arg(rest, const char*);
          if (text == nullptr) text = "(null)";
          PutPadded(sink, conversion, text, Length(text, conversion.precision), false);
        }
        break;
      case '%':
        Put(sink, '%');
        break;
      default:
        // Not known: copied as written (and its argument, if any, left).
        while (start != at) Put(sink, *start++);
        if (*at == '\0') {
          va_end(rest);
          return;
        }
        Put(sink, *at);
    }
    ++at;
  }
  va_end(rest);
}

size_t FormatText(char* out, size_t size, const char* format, va_list args) {
  if (size == 0) return 0;
  TextSink sink = {out, size - 1, 0, nullptr, nullptr};
  FormatInto(sink, format, args);
  out[sink.used] = '\0';
  return sink.used;
}

size_t FormatTextf(char* out, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const size_t length = FormatText(out, size, format, args);
  va_end(args);
  return length;
}
