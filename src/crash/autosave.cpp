#include "crash/autosave.h"

#include <atomic>
#include <cstdint>

#include "base/game_access.h"
#include "base/guarded_call.h"
#include "base/log.h"

namespace {

constexpr int kMaxChecks = 5000;
constexpr DWORD kWaitLimitMs = 5000;

using SaveGameFunction = GameThisCall<void, void*, const char*, int32_t, int32_t>;

enum SaveOutcome : LONG { SavePending, SaveFinished, SaveFaulted };

// Written by the worker, polled by the crashing thread. A worker that outlives
// its wait may still write it; a later crash starts from SavePending again.
std::atomic<LONG> saveOutcome{SavePending};

void CallGameSave(void* saveManager) {
  GameRoutine<SaveGameFunction>(game::kSaveGame)(saveManager, kAutosaveName, -1, 0);
}

}  // namespace

DWORD WINAPI AutosaveWorker(LPVOID saveManager) {
  // A fault inside the game's save must not start a second crash report on
  // this thread: it ends the save as failed.
  saveOutcome.store(GuardedCall(CallGameSave, saveManager) == 0 ? SaveFinished : SaveFaulted);
  return 0;
}

void SaveGameBeforeExit() {
  PluginLog& log = GetLog();
  LogLine(log, LogError, "Plugin is trying to save game");
  void* saveManager = GameGlobal<void*>(game::kSaveManager);
  // No save manager yet (a crash early in start-up): nothing can be saved.
  HANDLE worker = nullptr;
  if (saveManager != nullptr) {
    saveOutcome.store(SavePending);
    worker = CreateThread(nullptr, 0, AutosaveWorker, saveManager, 0, nullptr);
  }
  if (worker == nullptr) {
    LogLine(log, LogError, "Save failed");
    return;
  }
  CloseHandle(worker);

  // Bounded both by count and by time: Sleep(1) may last a whole timer tick.
  const DWORD start = GetTickCount();
  for (int check = 0; check < kMaxChecks; ++check) {
    const LONG outcome = saveOutcome.load();
    if (outcome == SaveFinished) {
      LogLine(log, LogError, "Game saved");
      return;
    }
    if (outcome == SaveFaulted || GetTickCount() - start >= kWaitLimitMs) break;
    Sleep(1);
  }
  LogLine(log, LogError, "Save failed");
}
