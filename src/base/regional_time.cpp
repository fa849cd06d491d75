#include "base/regional_time.h"

#include <cstring>

#include "base/text_format.h"

namespace {

bool ReadLocale(LCTYPE type, char* out, size_t size) {
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, out, static_cast<int>(size)) > 0) return true;
  out[0] = '\0';
  return false;
}

// Appends to `out` (of `size`, `length` used so far), keeping it terminated.
struct Output {
  char* out;
  size_t size;
  size_t length;
  bool dayNumber;  // a day number came earlier in the pattern being written

  void Append(const char* text) {
    for (; *text != '\0' && length + 1 < size; ++text) out[length++] = *text;
    out[length] = '\0';
  }
  void Number(unsigned value, bool twoDigits) {
    char digits[16];
    FormatTextf(digits, sizeof digits, twoDigits ? "%02u" : "%u", value);
    Append(digits);
  }
};

using SystemFormat = int(WINAPI*)(LCID, DWORD, const SYSTEMTIME*, LPCSTR, LPSTR, int);

void SystemWord(const SYSTEMTIME& when, const char* pattern, char* out, size_t size, SystemFormat format) {
  if (format(LOCALE_USER_DEFAULT, 0, &when, pattern, out, static_cast<int>(size)) <= 0) out[0] = '\0';
}

// The month's name as a pattern of the form "d'|'MMM..." writes it.
void WordAfterDay(const SYSTEMTIME& when, const char* pattern, char* out, size_t size) {
  char text[200];
  const char* bar = nullptr;
  if (GetDateFormatA(LOCALE_USER_DEFAULT, 0, &when, pattern, text, sizeof text) > 0)
    bar = std::strchr(text, '|');
  out[0] = '\0';
  if (bar != nullptr) FormatTextf(out, size, "%s", bar + 1);
}

unsigned TwelveHour(unsigned hour) { return hour % 12 == 0 ? 12 : hour % 12; }

// One run of a pattern letter, `count` long.
void AppendField(Output& output, const RegionalTime& regional, const SYSTEMTIME& when, char letter,
                 size_t count) {
  const bool two = count >= 2;
  switch (letter) {
    case 'd':
      if (count <= 2) {
        output.Number(when.wDay, two);
        output.dayNumber = true;
      } else {
        output.Append(count == 3 ? regional.shortDays[when.wDayOfWeek % 7]
                                 : regional.days[when.wDayOfWeek % 7]);
      }
      break;
    case 'M':
      if (count <= 2)
        output.Number(when.wMonth, two);
      else if (when.wMonth >= 1 && when.wMonth <= 12 && output.dayNumber)
        output.Append(count == 3 ? regional.dayShortMonths[when.wMonth - 1]
                                 : regional.dayMonths[when.wMonth - 1]);
      else if (when.wMonth >= 1 && when.wMonth <= 12)
        output.Append(count == 3 ? regional.shortMonths[when.wMonth - 1] : regional.months[when.wMonth - 1]);
      break;
    case 'y':
      if (count <= 2)
        output.Number(when.wYear % 100, two);
      else
        output.Number(when.wYear, false);
      break;
    case 'h':
      output.Number(TwelveHour(when.wHour), two);
      break;
    case 'H':
      output.Number(when.wHour, two);
      break;
    case 'm':
      output.Number(when.wMinute, two);
      break;
    case 's':
      output.Number(when.wSecond, two);
      break;
    case 't':
      if (count >= 2)
        output.Append(when.wHour < 12 ? regional.am : regional.pm);
      else
        output.Append(when.wHour < 12 ? regional.amFirst : regional.pmFirst);
      break;
    default:
      break;  // 'g': the era, which no Gregorian short date shows
  }
}

void AppendPattern(Output& output, const RegionalTime& regional, const SYSTEMTIME& when,
                   const char* pattern) {
  output.dayNumber = false;
  for (const char* at = pattern; *at != '\0';) {
    const char letter = *at;
    if (letter == '\'') {
      // Quoted text; two quotes in a row stand for one.
      for (++at; *at != '\0'; ++at) {
        if (*at == '\'' && at[1] != '\'') break;
        if (*at == '\'') ++at;
        const char one[2] = {*at, '\0'};
        output.Append(one);
      }
      if (*at == '\'') ++at;
    } else if (std::strchr("dMyghHmst", letter) != nullptr) {
      size_t count = 0;
      for (; *at == letter; ++at) ++count;
      AppendField(output, regional, when, letter, count);
    } else {
      const char one[2] = {letter, '\0'};
      output.Append(one);
      ++at;
    }
  }
}

}  // namespace

bool ReadRegionalTime(RegionalTime& regional) {
  std::memset(&regional, 0, sizeof regional);
  // The names as the system writes them, alone and beside a day number:
  // January 2001 began on a Monday, so the 7th to the 13th run from Sunday.
  for (WORD i = 0; i < 12; ++i) {
    const SYSTEMTIME month = {2001, static_cast<WORD>(i + 1), 0, 1, 0, 0, 0, 0};
    SystemWord(month, "MMMM", regional.months[i], sizeof regional.months[i], GetDateFormatA);
    SystemWord(month, "MMM", regional.shortMonths[i], sizeof regional.shortMonths[i], GetDateFormatA);
    WordAfterDay(month, "d'|'MMMM", regional.dayMonths[i], sizeof regional.dayMonths[i]);
    WordAfterDay(month, "d'|'MMM", regional.dayShortMonths[i], sizeof regional.dayShortMonths[i]);
  }
  for (WORD i = 0; i < 7; ++i) {
    const SYSTEMTIME day = {2001, 1, i, static_cast<WORD>(7 + i), 0, 0, 0, 0};
    SystemWord(day, "dddd", regional.days[i], sizeof regional.days[i], GetDateFormatA);
    SystemWord(day, "ddd", regional.shortDays[i], sizeof regional.shortDays[i], GetDateFormatA);
  }
  const SYSTEMTIME morning = {2001, 1, 1, 1, 0, 0, 0, 0}, afternoon = {2001, 1, 1, 1, 12, 0, 0, 0};
  SystemWord(morning, "tt", regional.am, sizeof regional.am, GetTimeFormatA);
  SystemWord(afternoon, "tt", regional.pm, sizeof regional.pm, GetTimeFormatA);
  SystemWord(morning, "t", regional.amFirst, sizeof regional.amFirst, GetTimeFormatA);
  SystemWord(afternoon, "t", regional.pmFirst, sizeof regional.pmFirst, GetTimeFormatA);
  return ReadLocale(LOCALE_SSHORTDATE, regional.datePattern, sizeof regional.datePattern) &&
         ReadLocale(LOCALE_STIMEFORMAT, regional.timePattern, sizeof regional.timePattern);
}

size_t FormatRegionalTime(const RegionalTime& regional, const SYSTEMTIME& when, char* out, size_t size) {
  if (size == 0) return 0;
  Output output = {out, size, 0, false};
  out[0] = '\0';
  AppendPattern(output, regional, when, regional.datePattern);
  output.Append(" ");
  AppendPattern(output, regional, when, regional.timePattern);
  return output.length;
}
