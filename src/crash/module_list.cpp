#include "crash/module_list.h"

#include <atomic>

#include "base/guarded_call.h"

namespace {

// The loader's data, 32-bit layout: the process environment block holds the
// loader data at 0x0C, which holds the list of modules in load order at 0x0C;
// each entry starts with its links and holds the base at 0x18, the image size
// at 0x20 and the full path at 0x24 (a counted wide string: its length in
// bytes, its capacity, then the pointer at 0x28).
constexpr size_t kPebLoaderData = 0x0C;
constexpr size_t kLoadOrderList = 0x0C;
constexpr size_t kEntryBase = 0x18;
constexpr size_t kEntrySize = 0x20;
constexpr size_t kEntryPath = 0x24;

template <typename T>
T Field(uintptr_t address, size_t offset) {
  return *reinterpret_cast<const volatile T*>(address + offset);
}

ModuleTable table;
std::atomic<bool> tableRead{false};

void ReadLoaderList(void*) {
  uintptr_t peb;
  asm volatile("mov %%fs:0x30, %0" : "=r"(peb));
  const uintptr_t head = Field<uintptr_t>(peb, kPebLoaderData) + kLoadOrderList;
  table.readable = true;
  // Bounded: a list changed under the walk cannot loop it for ever.
  uintptr_t entry = Field<uintptr_t>(head, 0);
  for (size_t steps = 0; entry != head && steps < 4 * kModuleListSize && table.count < kModuleListSize;
       ++steps, entry = Field<uintptr_t>(entry, 0)) {
    LoadedModule& module = table.modules[table.count];
    module.base = Field<uintptr_t>(entry, kEntryBase);
    module.size = Field<DWORD>(entry, kEntrySize);
    if (module.base == 0) continue;
    const USHORT bytes = Field<USHORT>(entry, kEntryPath);
    const wchar_t* text = Field<const wchar_t*>(entry, kEntryPath + 4);
    const int length = WideCharToMultiByte(CP_ACP, 0, text, bytes / sizeof(wchar_t), module.path,
                                           MAX_PATH - 1, nullptr, nullptr);
    module.path[length > 0 ? length : 0] = '\0';
    ++table.count;
  }
}

}  // namespace

const char* LoadedModule::name() const {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at)
    if (*at == '\\' || *at == '/') name = at + 1;
  return name;
}

const ModuleTable& CrashModules() {
  if (!tableRead.exchange(true)) {
    // A fault midway keeps the modules read so far.
    if (GuardedCall(ReadLoaderList, nullptr) != 0 && table.count == 0) table.readable = false;
  }
  return table;
}

const LoadedModule* ModuleContaining(const ModuleTable& modules, uintptr_t address) {
  const LoadedModule* found = nullptr;
  for (size_t i = 0; i < modules.count; ++i) {
    const LoadedModule& module = modules.modules[i];
    if (address >= module.base && address - module.base < module.size) found = &module;
  }
  return found;
}
