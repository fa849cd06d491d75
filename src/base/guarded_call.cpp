#include "base/guarded_call.h"

bool GuardRecovers(const EXCEPTION_RECORD* record) {
  const DWORD code = record->ExceptionCode;
  // Error severity only (the top two bits set): faults and thrown C++
  // exceptions. Informational and warning codes, such as a debug print or a
  // breakpoint, expect to go on past an unhandled search. A stack overflow
  // leaves the thread without room to go on safely.
  return (code >> 30) == 3 && code != EXCEPTION_STACK_OVERFLOW;
}
