// Stubs reached by the memory patches' jump writes. Each works on the game's
// registers at the jump's address and ends with an absolute jump through EAX
// to the game's continuation, which does not need EAX there.
#include "memory/memory_addresses.h"

    .intel_syntax noprefix
    .text

// Entered from the release loop of a game routine with ESI = the routine's
// object (its table object at offset 0x20, null possible), EDI = the current
// index, EBP = the end index. For each index from EDI until it reaches EBP
// (at least once): the table's entry for the index, if any, gets its field
// at offset 0x24 cleared and then its first virtual function called with 1.
// Leaves with EDI = the end index, ESI, EBX and EBP unchanged; EAX, ECX and
// EDX are lost. The game routines called keep EBX, ESI, EDI and EBP.
    .globl _ReleaseLoopStub
_ReleaseLoopStub:
1:  mov ecx, [esi + 0x20]
    test ecx, ecx
    jz 2f
    push edi
    mov eax, kTableEntry
    call eax
    test eax, eax
    jz 2f
    mov dword ptr [eax + 0x24], 0
    mov ecx, eax
    mov edx, [eax]
    push 1
    call dword ptr [edx]
2:  inc edi
    cmp edi, ebp
    jb 1b
    mov eax, kReleaseLoopContinue
    jmp eax

// Entered from the form heap's code in place of its six bytes there: pushes
// the larger space size, then EAX, as the code from the continuation on
// expects to find them on its stack. Every other register is kept.
    .globl _FormHeapLargerSpaceStub
_FormHeapLargerSpaceStub:
    push kFormHeapLargerSpace
    push eax
    mov eax, kFormHeapLargerSpaceContinue
    jmp eax
