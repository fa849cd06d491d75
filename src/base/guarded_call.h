#pragma once

#include <windows.h>

#include <cstdint>

using GuardedBody = void (*)(void* context);

extern "C" {

// Calls body(context) with a frame-based exception handler around it.
// Returns 0 when body returns. When an exception that GuardRecovers
// accepts ends body, the handlers of the frames inside are run as for any
// unwind, body is abandoned where it stood (destructors of its C++ objects do
// not run) and the fault's exception code is returned. The callee-saved
// registers, the x87 control word and MXCSR are those of the caller either
// way. For calls into game or foreign code that may fault on bad input, and
// for everything the crash report reads.
uint32_t GuardedCall(GuardedBody body, void* context);

// Whether GuardedCall ends its body on this exception: every exception
// (faults, C++ throws, breakpoints, any severity) but a stack overflow.
bool GuardRecovers(const EXCEPTION_RECORD* record);
}
