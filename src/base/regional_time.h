#pragma once

#include <windows.h>

#include <cstddef>

// The user's regional short date and time format, read once while nothing
// is wrong, so that a time stamp can later be made without the system's
// locale code (which may take the heap lock while a crash is handled) and
// still read like every other line of the log.
struct RegionalTime {
  char datePattern[80];
  char timePattern[80];
  char months[12][80];
  char shortMonths[12][80];
  // The forms that follow a day number (German "Dez." for "Dez", Polish
  // "grudnia" for "grudzień").
  char dayMonths[12][80];
  char dayShortMonths[12][80];
  char days[7][80];  // Sunday first, as SYSTEMTIME counts
  char shortDays[7][80];
  char am[16];
  char pm[16];
  char amFirst[8];  // the designators' first characters
  char pmFirst[8];
};

// Fills `regional` from the user's locale; false when the patterns could not
// be read.
bool ReadRegionalTime(RegionalTime& regional);

// Writes `when` as "<short date> <time>" by the patterns' rules (d, M, y,
// g, h, H, m, s and t runs, 'quoted' text), always terminated; returns the
// length.
size_t FormatRegionalTime(const RegionalTime& regional, const SYSTEMTIME& when, char* out, size_t size);
