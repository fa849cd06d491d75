#pragma once

// Runs code that may fault (game code, structures of unknown state) while a
// crash is handled. GCC has no __try, so the guard registers a frame-based
// exception handler of its own in front of the thread's handler chain.
using GuardedBody = void (*)(void* argument);

// Calls body(argument). True when it returned; false when an exception was
// raised inside it and not handled there: the frames above the guard are
// unwound and the call ends at the guard. Guards nest.
extern "C" bool GuardedCall(GuardedBody body, void* argument);
