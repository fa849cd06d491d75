#pragma once

// The linker-made stub `jmp [__imp__GetTickCount@0]` of this program.
void* GetTickCountStub();
// The import address table slot that the stub jumps through.
void* const* GetTickCountSlot();
