#pragma once

#include <windows.h>

// Writes the crash report into the log, writes the minidump, asks the game to
// save when "AutoSaveGame" is on, and returns the filter's verdict:
// EXCEPTION_CONTINUE_SEARCH when "ReportToWindows" is on (the system's own
// processing and error reporting follow), EXCEPTION_EXECUTE_HANDLER otherwise
// (the process ends). Runs on the crashing thread; crashes of several threads
// are handled one after the other, and a fault inside the handler itself
// ends the process without a second report.
LONG HandleCrash(EXCEPTION_POINTERS* pointers);
