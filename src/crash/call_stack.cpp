#include "crash/call_stack.h"

// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include <string>
#include <unordered_map>

#include "patching/symbol_handler.h"
#include "plugin/log.h"

namespace {

using ModuleNameMap = std::unordered_map<DWORD, std::string>;

constexpr DWORD kMaxSymbolName = 1024;
// A corrupt stack can chain its frames into a loop; the walk stops here
// rather than write the log without end.
constexpr int kMaxFrames = 1024;

BOOL CALLBACK AddModule(PCSTR name, ULONG base, PVOID context) {
  (*static_cast<ModuleNameMap*>(context))[base] = name != nullptr ? name : "";
  return TRUE;
}

void SetFlat(ADDRESS& address, DWORD offset) {
  address.Offset = offset;
  address.Mode = AddrModeFlat;
}

}  // namespace

void WalkCallStack(CONTEXT* context) {
  PluginLog& log = GetLog();
  LogLine(log, LogError,
          "Call Stack (Skyrim ignored the frame pointer register (ebp) so it may not correct) :");
  // Symbols and module names come from the process's symbol handler: one set
  // up before, or by LoadSymbolHandler now (which refuses debug-help
  // libraries older than it needs). Without one every frame takes the
  // address form with an empty module name.
  LoadSymbolHandler();
  const HANDLE process = GetCurrentProcess();
  const HANDLE thread = GetCurrentThread();
  ModuleNameMap modules;
  SymEnumerateModules(process, AddModule, &modules);

  STACKFRAME frame = {};
  SetFlat(frame.AddrPC, context->Eip);
  SetFlat(frame.AddrFrame, context->Ebp);
  SetFlat(frame.AddrStack, context->Esp);

  union {
    SYMBOL_INFO info;
    char bytes[sizeof(SYMBOL_INFO) + kMaxSymbolName];
  } symbol;
  for (int frames = 0; frames < kMaxFrames; ++frames) {
    if (!StackWalk(IMAGE_FILE_MACHINE_I386, process, thread, &frame, context, nullptr, SymFunctionTableAccess,
                   SymGetModuleBase, nullptr) ||
        frame.AddrPC.Offset == 0)
      break;
    const DWORD pc = frame.AddrPC.Offset;
    const std::string& module = modules[SymGetModuleBase(process, pc)];

    symbol = {};
    symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.info.MaxNameLen = kMaxSymbolName;
    if (!SymFromAddr(process, pc, nullptr, &symbol.info)) {
      LogLine(log, LogError, "\t%s : 0x%08x", module.c_str(), static_cast<unsigned>(pc));
      continue;
    }
    symbol.bytes[sizeof symbol.bytes - 1] = '\0';
    IMAGEHLP_LINE line = {};
    line.SizeOfStruct = sizeof line;
    DWORD displacement = 0;
    if (SymGetLineFromAddr(process, pc, &displacement, &line)) {
      LogLine(log, LogError, "\t%s : %s in %s line %u", module.c_str(), symbol.info.Name, line.FileName,
              static_cast<unsigned>(line.LineNumber));
    } else {
      LogLine(log, LogError, "\t%s : %s", module.c_str(), symbol.info.Name);
    }
  }
}
