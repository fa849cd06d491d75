#include <windows.h>

#include "patching/module_lookup.h"
#include "patching/transaction.h"
#include "plugin/handshake.h"
#include "plugin/log.h"
#include "simd/math_install.h"
#include "textures/texture_hooks.h"
#include "textures/texture_sites.h"

// Start-up and shut-down. Results of the patch engine are deliberately not
// examined: a failed transaction installs none of its redirections and the
// game goes on without those features.

namespace {

void OnProcessAttach(HINSTANCE module) {
  LogRaw(GetLog(), "%s", kPluginName);
  DisableThreadLibraryCalls(module);
  PatchBegin();
  PatchUpdateThread(GetCurrentThread());
  PatchCommit();
}

void OnProcessDetach() {
  LogLine(GetLog(), LogInfo, "Detach");
  PatchBegin();
  PatchUpdateThread(GetCurrentThread());
  if (CreateTextureFromFileInMemorySite != nullptr) {
    PatchDetach(&CreateTextureFromFileInMemorySite,
                reinterpret_cast<void*>(FastCreateTextureFromFileInMemory));
  }
  if (CreateTextureFromFileInMemoryExSite != nullptr) {
    PatchDetach(&CreateTextureFromFileInMemoryExSite,
                reinterpret_cast<void*>(FastCreateTextureFromFileInMemoryEx));
  }
  RemoveMathReplacements();
  PatchCommit();
}

}  // namespace

// The loader's entry routine. MinGW's CRT start-up calls it under the name
// DllMain (aliased below) after static initialisation on attach and before
// the exit-time destructors on detach.
extern "C" BOOL WINAPI PluginEntry(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    OnProcessAttach(module);
  } else if (reason == DLL_PROCESS_DETACH) {
    OnProcessDetach();
  }
  return TRUE;
}

asm(".globl _DllMain@12\n.set _DllMain@12, _PluginEntry@12");

extern "C" bool SKSEPlugin_Load(const HostInterface*) {
  PatchRestoreAfterLaunch();
  // No thread is enlisted: the host's other threads are not running game
  // code that is rewritten here.
  PatchBegin();
  InstallTextureHooks();
  InstallMathReplacements();
  PatchCommit();
  LogLine(GetLog(), LogInfo, "SKSEPlugin_Load");
  return true;
}
