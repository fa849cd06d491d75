#pragma once

#include <windows.h>

#include <cstdint>

#include "crash/crash_addresses.h"

constexpr char kAutosaveName[] = "Quelbrand Autosave";

// Body of the autosave thread: the game's save routine on `saveManager`,
// guarded, then the outcome is marked for the waiting crash handler.
DWORD WINAPI AutosaveWorker(LPVOID saveManager);

// Asks the game to save as "Quelbrand Autosave" on a thread of its own and
// waits for it about 5 seconds at most, polling every millisecond. Logs
// "Game saved" or "Save failed". A save still running afterwards goes on by
// itself.
void SaveGameBeforeExit();
