#include <windows.h>

#include "base/data_path.h"
#include "base/feature_status.h"
#include "base/log.h"
#include "base/settings.h"
#include "camera/camera_fix.h"
#include "crash/crash_reporter.h"
#include "crash/exception_filter.h"
#include "memory/havok_resources.h"
#include "memory/memory_install.h"
#include "patching/patching.h"
#include "plugin/commit_report.h"
#include "plugin/handshake.h"
#include "quelbrand_build.h"
#include "shadercache/shader_cache.h"
#include "simd/math_install.h"
#include "textures/texture_hooks.h"

// Start-up and shut-down: SKSEPlugin_Load installs the features in one
// transaction (the shader cache already at process attach), process detach
// removes them in the same order. A failed transaction installs (or removes)
// none of its redirections and the game goes on without those features; only
// the commit's result is logged, and one line then lists what is in effect.

namespace {

void OnProcessAttach(HINSTANCE module) {
  LogRaw(GetLog(), "%s", kPluginName);
  LogLine(GetLog(), LogInfo, "%s %s", kPluginName, QUELBRAND_VERSION_TEXT);
  LogDataFolder();
  LogSettings();
  DisableThreadLibraryCalls(module);
  PatchBegin();
  PatchUpdateThread(GetCurrentThread());
  InstallShaderCache();
  SettleFeatures(CommitAndReport("Attach"));
}

void OnProcessDetach() {
  LogLine(GetLog(), LogInfo, "Detach");
  PatchBegin();
  PatchUpdateThread(GetCurrentThread());
  RemoveExceptionFilterHook();
  RemoveMemoryPatches();
  RemoveTextureHooks();
  RemoveHavokResourceRetention();
  RemoveCameraScaleFix();
  RemoveShaderCache();
  RemoveMathReplacements();
  CommitAndReport("Detach");
  RestoreGameExceptionFilter();
  StopCrashReporter();
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
  StartCrashReporter();
  // No thread is enlisted: the host's other threads are not running game
  // code that is rewritten here.
  PatchBegin();
  InstallExceptionFilterHook();
  InstallMemoryPatches();
  InstallTextureHooks();
  InstallHavokResourceRetention();
  InstallCameraScaleFix();
  InstallMathReplacements();
  SettleFeatures(CommitAndReport("SKSEPlugin_Load"));
  LogActiveFixes();
  HandChangedSitesToCrashReport();
  LogLine(GetLog(), LogInfo, "SKSEPlugin_Load");
  return true;
}
