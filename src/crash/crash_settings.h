#pragma once

// The "Exception" settings the crash handling needs, read at load: reading
// the file at crash time could wait for the heap or the loader lock that the
// crash left held.
struct CrashSettings {
  bool fullMemory;
  bool autoSave;
  bool reportToWindows;
};

void ReadCrashSettings();

// The settings read at load; the defaults if they were not read.
CrashSettings LoadedCrashSettings();
