#pragma once

#include <windows.h>

// Id of the thread that ran SKSEPlugin_Load, recorded by the memory
// installer on every start.
extern DWORD LoadThreadId;
