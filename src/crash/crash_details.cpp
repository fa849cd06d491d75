#include "crash/crash_details.h"

#include <cstdint>

#include "base/guarded_call.h"
#include "base/log.h"
#include "base/text_format.h"
#include "crash/address_text.h"
#include "crash/module_list.h"

namespace {

constexpr size_t kScanSlots = 1024;
constexpr int kScanLines = 64;
constexpr DWORD kExecutable =
    PAGE_EXECUTE | PAGE_EXECUTE_READ | PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
constexpr uint32_t kVersionSignature = 0xFEEF04BD;
constexpr uint32_t kVersionResource = 16;
constexpr uint32_t kSubdirectory = 0x80000000;

bool InCode(uintptr_t value) {
  MEMORY_BASIC_INFORMATION region;
  return VirtualQuery(reinterpret_cast<void*>(value), &region, sizeof region) != 0 &&
         region.State == MEM_COMMIT && (region.Protect & kExecutable) != 0;
}

struct VersionQuery {
  uintptr_t base;
  uint32_t high, low;
  bool found;
};

template <typename T>
T At(uintptr_t address) {
  return *reinterpret_cast<const volatile T*>(address);
}

// The first entry of a resource directory with `id` (any when 0): its offset
// from the resource section's start.
uint32_t ResourceEntry(uintptr_t resources, uint32_t directory, uint32_t id) {
  const uintptr_t at = resources + directory;
  const uint32_t count = At<uint16_t>(at + 12) + At<uint16_t>(at + 14);
  for (uint32_t i = 0; i < count && i < 64; ++i) {
    const uintptr_t entry = at + 16 + 8 * i;
    if (id == 0 || At<uint32_t>(entry) == id) return At<uint32_t>(entry + 4);
  }
  return 0;
}

// The fixed file version of a module's version resource (type, name,
// language, then the data, whose fixed part starts with its signature).
void ReadVersion(void* argument) {
  auto& query = *static_cast<VersionQuery*>(argument);
  const uintptr_t headers = query.base + At<uint32_t>(query.base + 0x3C);
  const uint32_t rva = At<uint32_t>(headers + 0x88);  // the resource directory entry
  if (rva == 0) return;
  const uintptr_t resources = query.base + rva;
  uint32_t entry = ResourceEntry(resources, 0, kVersionResource);
  for (int level = 0; level < 2 && (entry & kSubdirectory) != 0; ++level)
    entry = ResourceEntry(resources, entry & ~kSubdirectory, 0);
  if (entry == 0 || (entry & kSubdirectory) != 0) return;
  const uintptr_t data = query.base + At<uint32_t>(resources + entry);
  const uint32_t size = At<uint32_t>(resources + entry + 4);
  for (uint32_t at = 0; at + 16 <= size && at < 1024; at += 4) {
    if (At<uint32_t>(data + at) != kVersionSignature) continue;
    query.high = At<uint32_t>(data + at + 8);
    query.low = At<uint32_t>(data + at + 12);
    query.found = true;
    return;
  }
}

}  // namespace

void LogFaultingThread(const EXCEPTION_POINTERS* pointers, DWORD threadId) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(pointers->ExceptionRecord->ExceptionAddress);
  char where[kAddressText];
  DescribeAddress(address, where);
  const char* site = ChangedSiteAt(address);
  LogLine(GetLog(), LogError, "Thread %lu (0x%lx) faulted at %s%s%s", threadId, threadId, where,
          site != nullptr ? " in changed site " : "", site != nullptr ? site : "");
}

void LogRegisters(const CONTEXT* context) {
  const struct {
    const char* name;
    DWORD value;
  } registers[] = {{"EAX", context->Eax}, {"EBX", context->Ebx}, {"ECX", context->Ecx},
                   {"EDX", context->Edx}, {"ESI", context->Esi}, {"EDI", context->Edi},
                   {"ESP", context->Esp}, {"EBP", context->Ebp}, {"EIP", context->Eip}};
  LogLine(GetLog(), LogError, "Registers:");
  char pointee[kAddressText];
  for (const auto& reg : registers) {
    DescribePointee(reg.value, pointee);
    LogLine(GetLog(), LogError, "\t%s 0x%08lx%s%s", reg.name, reg.value, pointee[0] != '\0' ? " " : "",
            pointee);
  }
  LogLine(GetLog(), LogError, "\tEFLAGS 0x%08lx", context->EFlags);
}

void LogStackScan(const CONTEXT* context) {
  LogLine(GetLog(), LogError, "Stack (values from ESP that point into code or to named objects):");
  int lines = 0;
  char text[kAddressText];
  char name[128];
  for (size_t slot = 0; slot < kScanSlots && lines < kScanLines; ++slot) {
    uint32_t value = 0;
    if (!Read(context->Esp + 4 * slot, &value, sizeof value)) break;
    if (ObjectClassName(value, name, sizeof name)) {
      LogLine(GetLog(), LogError, "\t[ESP+0x%03x] 0x%08x object of class %s", static_cast<unsigned>(4 * slot),
              value, name);
    } else if (ModuleContaining(CrashModules(), value) != nullptr && InCode(value)) {
      DescribePointee(value, text);
      LogLine(GetLog(), LogError, "\t[ESP+0x%03x] 0x%08x %s", static_cast<unsigned>(4 * slot), value, text);
    } else {
      continue;
    }
    ++lines;
  }
}

void LogModules() {
  const ModuleTable& table = CrashModules();
  if (!table.readable) {
    LogLine(GetLog(), LogError, "Modules: the module list could not be read");
    return;
  }
  LogLine(GetLog(), LogError, "Modules:");
  // By base: an insertion sort of indices, no heap.
  uint16_t order[kModuleListSize];
  for (size_t i = 0; i < table.count; ++i) {
    size_t at = i;
    for (; at > 0 && table.modules[order[at - 1]].base > table.modules[i].base; --at)
      order[at] = order[at - 1];
    order[at] = static_cast<uint16_t>(i);
  }
  for (size_t i = 0; i < table.count; ++i) {
    const LoadedModule& module = table.modules[order[i]];
    VersionQuery version = {module.base, 0, 0, false};
    GuardedCall(ReadVersion, &version);
    char text[48] = "";
    if (version.found)
      FormatTextf(text, sizeof text, " %u.%u.%u.%u", version.high >> 16, version.high & 0xFFFF,
                  version.low >> 16, version.low & 0xFFFF);
    LogLine(GetLog(), LogError, "\t0x%08x 0x%08lx %s%s", static_cast<unsigned>(module.base), module.size,
            module.name(), text);
  }
}
