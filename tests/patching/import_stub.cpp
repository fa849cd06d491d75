// The program's own import stub for GetTickCount. Declared here without the
// Windows headers, so the reference goes to the linker's `jmp [slot]` stub
// rather than through the import slot.

#include "import_stub.h"

extern "C" unsigned long __attribute__((stdcall)) GetTickCount(void);
extern void* const getTickCountSlot asm("__imp__GetTickCount@0");

void* GetTickCountStub() { return reinterpret_cast<void*>(&GetTickCount); }
void* const* GetTickCountSlot() { return &getTickCountSlot; }
