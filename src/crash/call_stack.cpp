#include "crash/call_stack.h"

// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include <cstring>

#include "base/log.h"
#include "base/text_format.h"
#include "crash/address_text.h"
#include "crash/module_list.h"
#include "patching/patching.h"

namespace {

constexpr DWORD kMaxSymbolName = 1024;
// Frames walked at most, and printed at most: a stack overflow's recursion is
// folded into one line per run of equal frames, and beyond kPrintedFrames
// only the last kTailFrames are printed (the outermost callers, where a
// recursion started), so that the report stays short enough to paste.
constexpr int kMaxFrames = 65536;
constexpr int kPrintedFrames = 60;
constexpr int kTailFrames = 20;

void SetFlat(ADDRESS& address, DWORD offset) {
  address.Offset = offset;
  address.Mode = AddrModeFlat;
}

// Decorated names of the Microsoft compiler ("?Name@Class@@...") are shown
// as the plain qualified name.
void Undecorate(const char* name, char (&text)[kMaxSymbolName]) {
  if (name[0] != '?' || UnDecorateSymbolName(name, text, sizeof text, UNDNAME_NAME_ONLY) == 0)
    FormatTextf(text, sizeof text, "%s", name);
}

// Logs one frame: its module and offset (or "no module"), the function and
// line where the debug-help library knows them, and a changed site it lies in.
void LogFrame(DWORD pc) {
  PluginLog& log = GetLog();
  const HANDLE process = GetCurrentProcess();
  char module[kAddressText];
  DescribeAddress(pc, module);
  char site[160] = "";
  if (const char* name = ChangedSiteAt(pc)) FormatTextf(site, sizeof site, " (changed site %s)", name);
  // The symbol handler learns each module the walk meets, so that its
  // symbols can be found even when nobody loaded them before.
  const LoadedModule* owner = ModuleContaining(CrashModules(), pc);
  if (owner != nullptr && SymGetModuleBase(process, pc) == 0)
    SymLoadModule64(process, nullptr, owner->path, nullptr, owner->base, owner->size);

  union {
    SYMBOL_INFO info;
    char bytes[sizeof(SYMBOL_INFO) + kMaxSymbolName];
  } symbol = {};
  symbol.info.SizeOfStruct = sizeof(SYMBOL_INFO);
  symbol.info.MaxNameLen = kMaxSymbolName;
  DWORD64 symbolDisplacement = 0;
  if (!SymFromAddr(process, pc, &symbolDisplacement, &symbol.info)) {
    LogLine(log, LogError, "\t%s : 0x%08x%s", module, static_cast<unsigned>(pc), site);
    return;
  }
  symbol.bytes[sizeof symbol.bytes - 1] = '\0';
  char function[kMaxSymbolName];
  Undecorate(symbol.info.Name, function);
  const size_t length = std::strlen(function);
  FormatTextf(function + length, sizeof function - length, "+0x%x",
              static_cast<unsigned>(symbolDisplacement));
  IMAGEHLP_LINE line = {};
  line.SizeOfStruct = sizeof line;
  DWORD lineDisplacement = 0;
  if (SymGetLineFromAddr(process, pc, &lineDisplacement, &line)) {
    LogLine(log, LogError, "\t%s : %s in %s line %u%s", module, function, line.FileName,
            static_cast<unsigned>(line.LineNumber), site);
  } else {
    LogLine(log, LogError, "\t%s : %s%s", module, function, site);
  }
}

// "1,019": counts of folded frames are read at a glance.
void LogRepeats(unsigned repeats) {
  if (repeats == 0) return;
  char count[16];
  FormatThousands(repeats, count);
  LogLine(GetLog(), LogError, "\t... same frame %s more times", count);
}

}  // namespace

void WalkCallStack(CONTEXT* context, HANDLE thread) {
  LogLine(GetLog(), LogError,
          "Call Stack (Skyrim ignored the frame pointer register (ebp) so it may not correct) :");
  // Symbols come from the process's symbol handler: one set up before, or by
  // LoadSymbolHandler now. Without one every frame shows its module and
  // offset only.
  LoadSymbolHandler();
  // Symbols without an exact match (no debug record, or debug information of
  // another format) still name functions; names undecorated, with lines.
  SymSetOptions((SymGetOptions() & ~SYMOPT_EXACT_SYMBOLS) | SYMOPT_UNDNAME | SYMOPT_LOAD_LINES);
  const HANDLE process = GetCurrentProcess();

  STACKFRAME frame = {};
  SetFlat(frame.AddrPC, context->Eip);
  SetFlat(frame.AddrFrame, context->Ebp);
  SetFlat(frame.AddrStack, context->Esp);

  DWORD tail[kTailFrames];
  int printed = 0, walked = 0;
  unsigned repeats = 0;
  DWORD previousPc = 0, previousStack = 0, previousFrame = 0;
  for (; walked < kMaxFrames; ++walked) {
    if (!StackWalk(IMAGE_FILE_MACHINE_I386, process, thread, &frame, context, nullptr, SymFunctionTableAccess,
                   SymGetModuleBase, nullptr) ||
        frame.AddrPC.Offset == 0)
      break;
    const DWORD pc = frame.AddrPC.Offset;
    // A frame that is its own caller (a corrupt stack chained into a loop)
    // ends the walk.
    if (walked > 0 && pc == previousPc && frame.AddrStack.Offset == previousStack &&
        frame.AddrFrame.Offset == previousFrame)
      break;
    previousStack = frame.AddrStack.Offset;
    previousFrame = frame.AddrFrame.Offset;
    if (walked > 0 && pc == previousPc) {
      ++repeats;
      continue;
    }
    previousPc = pc;
    if (printed < kPrintedFrames) {
      LogRepeats(repeats);
      LogFrame(pc);
      ++printed;
    } else {
      if (printed == kPrintedFrames) LogRepeats(repeats);
      tail[(printed++ - kPrintedFrames) % kTailFrames] = pc;
    }
    repeats = 0;
  }
  const int kept = printed - kPrintedFrames;
  if (kept <= 0) {
    LogRepeats(repeats);
    return;
  }
  if (kept > kTailFrames) LogLine(GetLog(), LogError, "\t... %d frames left out", kept - kTailFrames);
  for (int i = kept > kTailFrames ? kept - kTailFrames : 0; i < kept; ++i) LogFrame(tail[i % kTailFrames]);
  LogRepeats(repeats);
}
