#include <windows.h>

#include "plugin/handshake.h"
#include "plugin/log.h"

// The loader's entry routine. MinGW's CRT start-up calls it under the name
// DllMain (aliased below) after static initialisation on attach and before
// the exit-time destructors on detach.
extern "C" BOOL WINAPI PluginEntry(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    LogRaw(GetLog(), "%s", kPluginName);
    DisableThreadLibraryCalls(module);
  } else if (reason == DLL_PROCESS_DETACH) {
    LogLine(GetLog(), LogInfo, "Detach");
  }
  return TRUE;
}

asm(".globl _DllMain@12\n.set _DllMain@12, _PluginEntry@12");

extern "C" bool SKSEPlugin_Load(const HostInterface*) {
  LogLine(GetLog(), LogInfo, "SKSEPlugin_Load");
  return true;
}
