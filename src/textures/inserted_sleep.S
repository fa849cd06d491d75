// InsertedSleepStub: reached by the jump that replaces the game's
// `mov ecx, [kInsertedSleepEcxSource]` at kInsertedSleepJump (6 bytes, so
// the game resumes at kInsertedSleepContinue). Sleeps 25 ms, then performs
// the displaced load.
//
// Register contract: EAX and EDX are not preserved (Sleep may change them,
// and EAX carries the continuation address); ECX receives the game's value
// as the displaced instruction would have loaded it; every other register,
// the flags and the stack are as the game left them.
#include "textures/texture_addresses.h"

    .intel_syntax noprefix
    .text
    .globl _InsertedSleepStub
_InsertedSleepStub:
    pushfd
    push 25
    call dword ptr [__imp__Sleep@4]
    popfd
    mov ecx, dword ptr ds:[kInsertedSleepEcxSource]
    mov eax, kInsertedSleepContinue
    jmp eax
