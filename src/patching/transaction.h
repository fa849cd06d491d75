#pragma once

#include <windows.h>

// A pointer-sized variable naming a function to redirect: the function's
// address before a committed attach, the trampoline that runs the function's
// own code after it, the function again after a committed detach.
using PatchSite = void*;

// Transactions: nothing in the target code changes before PatchCommit, and
// the first failure makes the whole transaction fail. Every call returns a
// Windows error code (NO_ERROR on success).
LONG PatchBegin();
LONG PatchUpdateThread(HANDLE thread);
LONG PatchAttach(PatchSite* site, void* replacement);
LONG PatchDetach(PatchSite* site, void* replacement);
LONG PatchCommit(PatchSite** failedSite = nullptr);
LONG PatchAbort();
