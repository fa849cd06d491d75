#pragma once

#include <windows.h>

// Logs the call stack that `context` describes (the state of the crashing
// thread `thread`, which need not be the calling thread), one line per frame:
// the frame's module and offset ("name+0x1a2b", or "no module") and, where
// the debug-help library knows them, the function with its displacement and
// the source line. The walk changes `context`.
void WalkCallStack(CONTEXT* context, HANDLE thread);
