#pragma once

// The code-patching engine as features use it: redirections of functions in
// transactions, functions found by name, the launch-restore step and the
// process's symbol handler. Everything else under patching/ is the engine's
// own.

#include <windows.h>

// A pointer-sized variable naming a function to redirect: the function's
// address before a committed attach, the trampoline that runs the function's
// own code after it, the function again after a committed detach.
using PatchSite = void*;

// Transactions: nothing in the target code changes before PatchCommit, and
// the first failure makes the whole transaction fail. Every call returns a
// Windows error code (NO_ERROR on success). What cannot be carried out
// exactly is refused with ERROR_INVALID_BLOCK: a second operation on a site
// or a target, a target whose moved bytes meet those of another queued or
// live redirection, a removal through another site than the attach's or of
// bytes written over since. An enlisted thread that has exited is skipped; a
// handle through which a thread cannot be suspended, waited for and moved
// fails with the system's error.
LONG PatchBegin();
LONG PatchUpdateThread(HANDLE thread);
LONG PatchAttach(PatchSite* site, void* replacement);
LONG PatchDetach(PatchSite* site, void* replacement);
LONG PatchCommit(PatchSite** failedSite = nullptr);
LONG PatchAbort();
// The sites, in no particular order, whose removal in the last committed
// transaction found the target's memory released (its module unloaded): such
// a removal counts as done and writes nothing. Null past the last one; the
// list lasts until the next PatchBegin.
PatchSite* PatchReleasedSite(size_t index);

// Address of `function` in `library` (loaded if needed), or null.
void* PatchFindFunction(const char* library, const char* function);

// Puts back the image header bytes that a launcher saved in a payload; false
// when there is nothing to restore or it cannot be restored.
bool PatchRestoreAfterLaunch();

// Loads dbghelp.dll and initialises its symbol handler for this process the
// first time it is called; later calls return the same table, or null again
// after a failure (which is never retried). The only place where the
// process's symbol handler is initialised.
struct SymbolHandlerTable;
const SymbolHandlerTable* LoadSymbolHandler();
