// Stubs reached by the jumps written over two calls inside the game's
// third-person camera routine. Each redoes the call it replaces, scales the
// result by the factor at [[ESI + kCameraScaleCarrier] + kCarrierScale] when
// that object exists, and jumps back to the instruction after the call. ESI
// is the camera routine's object there; every other register is as the
// routine left it, except the ones named below.
#include "camera/camera_addresses.h"

    .intel_syntax noprefix
    .text

// In place of the call of kCameraDistance at kCameraScaleJump1; the
// distance comes back on the x87 stack and is scaled there. EAX is scratch
// here (the routine reloads it after the call), and carries the call and the
// jump back.
    .globl _CameraScaleStub1
_CameraScaleStub1:
    mov eax, kCameraDistance
    call eax
    test esi, esi
    jz 1f
    mov eax, [esi + kCameraScaleCarrier]
    test eax, eax
    jz 1f
    fmul dword ptr [eax + kCarrierScale]
1:
    mov eax, kCameraScaleContinue1
    jmp eax

// In place of the call of kCameraOffset at kCameraScaleJump2; the call
// returns in EAX a pointer to three floats, scaled in place. EAX is kept for
// the routine; ECX is scratch and carries the jump back.
    .globl _CameraScaleStub2
_CameraScaleStub2:
    mov eax, kCameraOffset
    call eax
    test esi, esi
    jz 2f
    mov ecx, [esi + kCameraScaleCarrier]
    test ecx, ecx
    jz 2f
    test eax, eax
    jz 2f
    fld dword ptr [ecx + kCarrierScale]
    fld dword ptr [eax]
    fmul st, st(1)
    fstp dword ptr [eax]
    fld dword ptr [eax + 4]
    fmul st, st(1)
    fstp dword ptr [eax + 4]
    fld dword ptr [eax + 8]
    fmulp st(1), st
    fstp dword ptr [eax + 8]
2:
    mov ecx, kCameraScaleContinue2
    jmp ecx
