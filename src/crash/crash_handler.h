#pragma once

#include <windows.h>

// Writes the crash report into the log, writes the minidump, asks the game to
// save when "AutoSaveGame" is on, and returns the filter's verdict:
// EXCEPTION_CONTINUE_SEARCH when "ReportToWindows" is on (the system's own
// processing and error reporting follow), EXCEPTION_EXECUTE_HANDLER otherwise
// (the process ends). Only the first crash of the process is reported; a
// thread crashing later waits, bounded, and returns the first verdict, and a
// fault of the handling itself ends the process without a second report.
LONG HandleCrash(EXCEPTION_POINTERS* pointers);
