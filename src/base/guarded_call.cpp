#include "base/guarded_call.h"

bool GuardRecovers(const EXCEPTION_RECORD* record) {
  // Every code: faults, thrown C++ exceptions, breakpoints, non-continuable
  // and informational ones. A guarded body is foreign or crash-time code; an
  // exception it leaves unhandled would otherwise reach the top-level filter
  // (ending the process with the wrong code, or the crash handling with it).
  // A stack overflow leaves the thread without room to go on safely.
  return record->ExceptionCode != EXCEPTION_STACK_OVERFLOW;
}
