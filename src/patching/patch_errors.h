#pragma once

#include <cstdint>

// Windows error codes that the patching engine returns, usable by the parts of
// the engine that do not include the Windows headers. The values are the
// platform's own.
constexpr int32_t kPatchOk = 0;             // NO_ERROR
constexpr int32_t kPatchInvalidHandle = 6;  // ERROR_INVALID_HANDLE
constexpr int32_t kPatchInvalidBlock = 9;   // ERROR_INVALID_BLOCK
constexpr int32_t kPatchInvalidData = 13;   // ERROR_INVALID_DATA
