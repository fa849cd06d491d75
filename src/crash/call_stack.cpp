#include "crash/call_stack.h"

// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include <cstdio>
#include <cstring>

#include "base/log.h"
#include "crash/module_list.h"
#include "patching/patching.h"

namespace {

constexpr DWORD kMaxSymbolName = 1024;
// A corrupt stack can chain its frames into a loop; the walk stops here
// rather than write the log without end.
constexpr int kMaxFrames = 1024;

void SetFlat(ADDRESS& address, DWORD offset) {
  address.Offset = offset;
  address.Mode = AddrModeFlat;
}

const char* FileName(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at)
    if (*at == '\\' || *at == '/') name = at + 1;
  return name;
}

// "name+0xOFFSET" of the module holding `pc`, or "no module". The symbol
// handler learns each module the walk meets, so that its symbols can be
// found even when nobody loaded them before.
void DescribeModule(const LoadedModule* modules, size_t count, DWORD pc, char (&text)[MAX_PATH + 16]) {
  const LoadedModule* module = ModuleContaining(modules, count, pc);
  if (module == nullptr) {
    std::strcpy(text, "no module");
    return;
  }
  char path[MAX_PATH] = {};
  GetModuleFileNameA(module->handle, path, MAX_PATH);
  const HANDLE process = GetCurrentProcess();
  if (SymGetModuleBase(process, pc) == 0)
    SymLoadModule64(process, nullptr, path, nullptr, module->base, module->size);
  std::snprintf(text, sizeof text, "%s+0x%x", FileName(path), static_cast<unsigned>(pc - module->base));
}

// Decorated names of the Microsoft compiler ("?Name@Class@@...") are shown
// as the plain qualified name.
void Undecorate(const char* name, char (&text)[kMaxSymbolName]) {
  if (name[0] != '?' || UnDecorateSymbolName(name, text, sizeof text, UNDNAME_NAME_ONLY) == 0)
    std::snprintf(text, sizeof text, "%s", name);
}

}  // namespace

void WalkCallStack(CONTEXT* context, HANDLE thread) {
  PluginLog& log = GetLog();
  LogLine(log, LogError,
          "Call Stack (Skyrim ignored the frame pointer register (ebp) so it may not correct) :");
  // Symbols come from the process's symbol handler: one set up before, or by
  // LoadSymbolHandler now. Without one every frame shows its module and
  // offset only.
  LoadSymbolHandler();
  // Symbols without an exact match (no debug record, or debug information of
  // another format) still name functions; names undecorated, with lines.
  SymSetOptions((SymGetOptions() & ~SYMOPT_EXACT_SYMBOLS) | SYMOPT_UNDNAME | SYMOPT_LOAD_LINES);
  const HANDLE process = GetCurrentProcess();
  LoadedModule modules[kModuleListSize];
  const size_t moduleCount = ListModules(modules);

  STACKFRAME frame = {};
  SetFlat(frame.AddrPC, context->Eip);
  SetFlat(frame.AddrFrame, context->Ebp);
  SetFlat(frame.AddrStack, context->Esp);

  union {
    SYMBOL_INFO info;
    char bytes[sizeof(SYMBOL_INFO) + kMaxSymbolName];
  } symbol;
  char module[MAX_PATH + 16];
  char function[kMaxSymbolName];
  for (int frames = 0; frames < kMaxFrames; ++frames) {
    if (!StackWalk(IMAGE_FILE_MACHINE_I386, process, thread, &frame, context, nullptr, SymFunctionTableAccess,
                   SymGetModuleBase, nullptr) ||
        frame.AddrPC.Offset == 0)
      break;
    const DWORD pc = frame.AddrPC.Offset;
    DescribeModule(modules, moduleCount, pc, module);

    symbol = {};
    symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
    symbol.info.MaxNameLen = kMaxSymbolName;
    DWORD64 symbolDisplacement = 0;
    if (!SymFromAddr(process, pc, &symbolDisplacement, &symbol.info)) {
      LogLine(log, LogError, "\t%s : 0x%08x", module, static_cast<unsigned>(pc));
      continue;
    }
    symbol.bytes[sizeof symbol.bytes - 1] = '\0';
    Undecorate(symbol.info.Name, function);
    const size_t length = std::strlen(function);
    std::snprintf(function + length, sizeof function - length, "+0x%x",
                  static_cast<unsigned>(symbolDisplacement));
    IMAGEHLP_LINE line = {};
    line.SizeOfStruct = sizeof line;
    DWORD lineDisplacement = 0;
    if (SymGetLineFromAddr(process, pc, &lineDisplacement, &line)) {
      LogLine(log, LogError, "\t%s : %s in %s line %u", module, function, line.FileName,
              static_cast<unsigned>(line.LineNumber));
    } else {
      LogLine(log, LogError, "\t%s : %s", module, function);
    }
  }
}
