#pragma once

#include <windows.h>

// Logs "C++ Exception <type>" for an exception thrown by the Microsoft C++
// runtime, naming the thrown object's own type as the runtime prints it.
// Structures that cannot be read drop the line.
void LogCxxExceptionType(const EXCEPTION_RECORD* record);
