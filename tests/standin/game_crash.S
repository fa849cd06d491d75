// The stand-in game's top-level exception filter, save routine and Havok
// allocator statistics. The first two are copied to their game addresses, so
// they use only absolute addresses (no relative calls).
    .intel_syntax noprefix
    .text

// LONG WINAPI (EXCEPTION_POINTERS*): ends the process with a code of its own.
    .globl _GameTopLevelFilterBegin, _GameTopLevelFilterEnd
_GameTopLevelFilterBegin:
    push ebp
    mov ebp, esp
    push 0x4746
    call dword ptr [__imp__ExitProcess@4]
_GameTopLevelFilterEnd:

// void __thiscall (manager in ECX; const char* name, int32 a, int32 b):
// hands its arguments to GameSaveGameRecord (cdecl) and removes 12 bytes.
    .globl _GameSaveGameBegin, _GameSaveGameEnd
_GameSaveGameBegin:
    push ebp
    mov ebp, esp
    push dword ptr [ebp + 16]
    push dword ptr [ebp + 12]
    push dword ptr [ebp + 8]
    push ecx
    mov eax, offset _GameSaveGameRecord
    call eax
    mov esp, ebp
    pop ebp
    ret 12
_GameSaveGameEnd:

// void __thiscall (allocator in ECX; int32* record): copies the six numbers
// after the allocator's table pointer into the record.
    .globl _GameAllocatorStatistics
_GameAllocatorStatistics:
    mov edx, [esp + 4]
    .irp k, 0, 1, 2, 3, 4, 5
    mov eax, [ecx + 4 + 4 * \k]
    mov [edx + 4 * \k], eax
    .endr
    ret 4

// The same contract, faulting on its first read.
    .globl _GameAllocatorStatisticsFaulty
_GameAllocatorStatisticsFaulty:
    mov edx, [esp + 4]
    mov eax, dword ptr [0x10]
    mov [edx], eax
    ret 4

// The same contract, never returning.
    .globl _GameAllocatorStatisticsHang
_GameAllocatorStatisticsHang:
    push -1
    call dword ptr [__imp__Sleep@4]
    jmp _GameAllocatorStatisticsHang

// The same contract, taking the process heap's lock and never returning.
    .globl _GameAllocatorStatisticsHangLocked
_GameAllocatorStatisticsHangLocked:
    call dword ptr [__imp__GetProcessHeap@0]
    push eax
    call dword ptr [__imp__HeapLock@4]
    jmp _GameAllocatorStatisticsHang

// The same contract, stopping at a breakpoint.
    .globl _GameAllocatorStatisticsBreak
_GameAllocatorStatisticsBreak:
    int3
    ret 4

// void (void): a routine without a frame pointer between the fault and its
// caller. It hands its return address to NoFrameReturnRecorder (cdecl), then
// writes address 0x10 with EBP still the caller's.
    .globl _FaultWithoutFramePointer
_FaultWithoutFramePointer:
    push dword ptr [esp]
    call dword ptr [_NoFrameReturnRecorder]
    add esp, 4
    sub esp, 12
    mov dword ptr [0x10], 1
    add esp, 12
    ret
