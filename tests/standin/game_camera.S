// The stand-in game's third-person camera routine and the game functions it
// and the camera fix call, placed at their addresses by PlaceGameCamera. The
// routine's two calls sit at the real addresses (kCameraScaleJump1 and 2);
// their displacements are computed for those addresses. Everything else is
// position-independent.
#include "camera/camera_addresses.h"
#include "standin/standin_sites.h"

    .intel_syntax noprefix
    .text

    .set MARK_EBX, 0x0B0B0B0B
    .set MARK_EDX, 0x0D0D0D0D
    .set MARK_EDI, 0x0E0E0E0E

// The code after each call relies on EBX, EDX, EDI, EBP and the x87 stack
// as they were before it (plus the one value the distance call returns).
// MARK notes them; CHECK_KEPT sets `fault` in kCameraRegisterFaults when the call,
// or whatever stands in for it, changed any. EAX is kept.
.macro MARK
    mov ebx, MARK_EBX
    mov edx, MARK_EDX
    mov edi, MARK_EDI
    mov ds:[kCameraSavedEbp], ebp
    fnstsw ax
    movzx eax, ax
    shr eax, 11
    and eax, 7
    mov ds:[kCameraSavedTop], eax
.endm

.macro CHECK_KEPT fault, pushed
    cmp ebx, MARK_EBX
    jne 8f
    cmp edx, MARK_EDX
    jne 8f
    cmp edi, MARK_EDI
    jne 8f
    cmp ebp, ds:[kCameraSavedEbp]
    jne 8f
    push eax
    fnstsw ax
    movzx eax, ax
    shr eax, 11
    add eax, \pushed
    and eax, 7
    cmp eax, ds:[kCameraSavedTop]
    pop eax
    je 9f
8:
    or dword ptr ds:[kCameraRegisterFaults], \fault
9:
.endm

// uint32_t __thiscall camera(Camera* this, uint32_t argument): stores the
// distance at [this + 0x40] and the offset at [this + 0x44..0x4c] (left as
// it is when the offset function returns null), returns 2 * argument + 1.
    .globl _GameThirdPersonCameraBegin, _GameThirdPersonCameraEnd
_GameThirdPersonCameraBegin:
    push ebp
    mov ebp, esp
    push esi
    push ebx
    push edi
    mov esi, ecx
    MARK
    jmp 1f
    .org _GameThirdPersonCameraBegin + (kCameraScaleJump1 - kThirdPersonCamera)
1:
    .byte 0xE8
    .long kCameraDistance - (kCameraScaleJump1 + 5)
    CHECK_KEPT 1, 1
    fstp dword ptr [esi + 0x40]
    jmp 2f
    .org _GameThirdPersonCameraBegin + (kCameraScaleJump2 - kThirdPersonCamera)
2:
    .byte 0xE8
    .long kCameraOffset - (kCameraScaleJump2 + 5)
    CHECK_KEPT 2, 0
    test eax, eax
    jz 3f
    mov ecx, [eax]
    mov [esi + 0x44], ecx
    mov ecx, [eax + 4]
    mov [esi + 0x48], ecx
    mov ecx, [eax + 8]
    mov [esi + 0x4c], ecx
3:
    mov eax, [ebp + 8]
    lea eax, [eax + eax + 1]
    pop edi
    pop ebx
    pop esi
    pop ebp
    ret 4
_GameThirdPersonCameraEnd:

// float distance(): the float at kCameraDistanceValue on the x87 stack.
    .globl _GameCameraDistanceBegin, _GameCameraDistanceEnd
_GameCameraDistanceBegin:
    push ebp
    mov ebp, esp
    fld dword ptr ds:[kCameraDistanceValue]
    pop ebp
    ret
_GameCameraDistanceEnd:

// float* offset(): the pointer at kCameraOffsetPointer (the three floats, or null).
    .globl _GameCameraOffsetBegin, _GameCameraOffsetEnd
_GameCameraOffsetBegin:
    push ebp
    mov ebp, esp
    mov eax, ds:[kCameraOffsetPointer]
    pop ebp
    ret
_GameCameraOffsetEnd:

// Name test, ECX = node's name field, EDX = reference: passes every name but
// kNameRefusedByTest, and records EDX at kNameTestReference.
    .globl _GameNodeNameTestBegin, _GameNodeNameTestEnd
_GameNodeNameTestBegin:
    push ebp
    mov ebp, esp
    mov ds:[kNameTestReference], edx
    xor eax, eax
    cmp dword ptr [ecx], kNameRefusedByTest
    setne al
    pop ebp
    ret
_GameNodeNameTestEnd:
