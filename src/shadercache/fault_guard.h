#pragma once

#include <windows.h>

#include <cstdint>

extern "C" {

// Calls body(context) with a frame-based exception handler around it.
// Returns 0 when body returns. When a hardware fault that GuardRecovers
// accepts ends body, the handlers of the frames inside are run as for any
// unwind, body is abandoned where it stood (destructors of its C++ objects do
// not run) and the fault's exception code is returned. The callee-saved
// registers, the x87 control word and MXCSR are those of the caller either
// way. Only for calls into foreign code that may read beyond bad input.
uint32_t GuardedCall(void (*body)(void*), void* context);

// Whether GuardedCall ends its body on this exception: access violations and
// the other faults of a bad read or a wild jump, not breakpoints, stack
// overflow or software exceptions.
bool GuardRecovers(const EXCEPTION_RECORD* record);
}
