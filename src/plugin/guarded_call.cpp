#include "plugin/guarded_call.h"

bool GuardRecovers(const EXCEPTION_RECORD* record) {
  switch (record->ExceptionCode) {
    case EXCEPTION_STACK_OVERFLOW:
    case EXCEPTION_BREAKPOINT:
    case EXCEPTION_SINGLE_STEP:
      return false;
    default:
      return true;
  }
}
