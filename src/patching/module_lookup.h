#pragma once

#include <windows.h>

// Address of `function` in `library` (loaded if needed), or null.
void* PatchFindFunction(const char* library, const char* function);

// Puts back the image header bytes that a launcher saved in a payload; false
// when there is nothing to restore or it cannot be restored.
bool PatchRestoreAfterLaunch();
