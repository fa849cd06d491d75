// The stand-in game routine whose instruction at kInsertedSleepJump (it is
// copied to kGameSleepRoutine) loads ECX from the game global
// kInsertedSleepEcxSource. Before that load it
// puts known values in EBX, ESI and EDI and sets the carry flag; after it,
// it reports which of them, and the stack pointer, are still intact.
// int __cdecl (int x); position-independent between Begin and End.
#include "standin/standin_sites.h"
#include "textures/texture_addresses.h"

    .intel_syntax noprefix
    .text
    .globl _GameSleepRoutineBegin, _GameSleepRoutineEnd
_GameSleepRoutineBegin:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov esi, [ebp + 8]
    lea ebx, [esi + 1]
    lea edi, [esi + 2]
    stc
    .org _GameSleepRoutineBegin + (kInsertedSleepJump - kGameSleepRoutine), 0x90
    mov ecx, dword ptr ds:[kInsertedSleepEcxSource]
    mov eax, 0
    adc eax, 0
    shl eax, 12
    add eax, ecx
    mov edx, ebx
    sub edx, esi
    shl edx, 4
    add eax, edx
    mov edx, edi
    sub edx, esi
    shl edx, 8
    add eax, edx
    lea edx, [ebp - 12]
    cmp edx, esp
    jne 1f
    add eax, 0x10000
1:
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
_GameSleepRoutineEnd:
