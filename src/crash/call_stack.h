#pragma once

#include <windows.h>

// Logs the call stack that `context` describes (the crashing thread's state),
// one line per frame with the frame's module and, where the debug-help
// library knows them, the function and the source line. The walk changes
// `context`.
void WalkCallStack(CONTEXT* context);
