#pragma once

#include "math_checks.h"

// The checks' call shapes for routines in the game's member-function
// convention; every call goes through CallGame and expects the callee
// to remove `argBytes` and keep EBX, ESI and EDI. Successive calls rotate the
// stack misalignment through 0, 4, 8 and 12.
ProductCall ThiscallProduct(const void* function);
BoxCall ThiscallBox(const void* function);
