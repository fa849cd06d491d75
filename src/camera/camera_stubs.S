// Stubs reached by the jumps written over two calls inside the game's
// third-person camera routine. Each redoes the call it replaces, scales the
// result by the factor at [[ESI + 0x18] + 0x84] when that object exists, and
// jumps back to the instruction after the call. ESI is the camera routine's
// object there; every other register is as the routine left it, except the
// ones named below.
    .intel_syntax noprefix
    .text

    .set GAME_CAMERA_DISTANCE, 0x6b8800
    .set GAME_CAMERA_OFFSET, 0x474cd0
    .set AFTER_DISTANCE_CALL, 0x83fd72
    .set AFTER_OFFSET_CALL, 0x83fe08
    .set SCALE_CARRIER, 0x18
    .set CARRIER_SCALE, 0x84

// In place of "call 0x6b8800" at 0x83fd6d; the distance comes back on the
// x87 stack and is scaled there. EAX is scratch here (the routine reloads it
// after the call), and carries the call and the jump back.
    .globl _CameraScaleStub1
_CameraScaleStub1:
    mov eax, GAME_CAMERA_DISTANCE
    call eax
    test esi, esi
    jz 1f
    mov eax, [esi + SCALE_CARRIER]
    test eax, eax
    jz 1f
    fmul dword ptr [eax + CARRIER_SCALE]
1:
    mov eax, AFTER_DISTANCE_CALL
    jmp eax

// In place of "call 0x474cd0" at 0x83fe03; the call returns in EAX a pointer
// to three floats, scaled in place. EAX is kept for the routine; ECX is
// scratch and carries the jump back.
    .globl _CameraScaleStub2
_CameraScaleStub2:
    mov eax, GAME_CAMERA_OFFSET
    call eax
    test esi, esi
    jz 2f
    mov ecx, [esi + SCALE_CARRIER]
    test ecx, ecx
    jz 2f
    test eax, eax
    jz 2f
    fld dword ptr [ecx + CARRIER_SCALE]
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
    mov ecx, AFTER_OFFSET_CALL
    jmp ecx
