// The stand-in game's third-person camera routine and the game functions it
// and the camera fix call, placed at their addresses by PlaceGameCamera. The
// routine's two calls sit at the real addresses (0x83fd6d, 0x83fe03); their
// displacements are computed for those addresses. Everything else is
// position-independent.
    .intel_syntax noprefix
    .text

    .set CAMERA_ROUTINE, 0x83fcf0
    .set DISTANCE_CALL, 0x83fd6d
    .set OFFSET_CALL, 0x83fe03
    .set GAME_DISTANCE, 0x6b8800
    .set GAME_OFFSET, 0x474cd0
    .set DISTANCE_VALUE, 0x1b40000
    .set NAME_TEST_REFERENCE, 0x1b40020
    .set OFFSET_POINTER, 0x1b40024
    .set REGISTER_FAULTS, 0x1b40028
    .set SAVED_EBP, 0x1b4002c
    .set SAVED_TOP, 0x1b40030
    .set UNNAMED_FOR_TEST, 0xDEAD
    .set MARK_EBX, 0x0B0B0B0B
    .set MARK_EDX, 0x0D0D0D0D
    .set MARK_EDI, 0x0E0E0E0E

// The code after each call relies on EBX, EDX, EDI, EBP and the x87 stack
// as they were before it (plus the one value the distance call returns).
// MARK notes them; CHECK_KEPT sets `fault` in REGISTER_FAULTS when the call,
// or whatever stands in for it, changed any. EAX is kept.
.macro MARK
    mov ebx, MARK_EBX
    mov edx, MARK_EDX
    mov edi, MARK_EDI
    mov ds:[SAVED_EBP], ebp
    fnstsw ax
    movzx eax, ax
    shr eax, 11
    and eax, 7
    mov ds:[SAVED_TOP], eax
.endm

.macro CHECK_KEPT fault, pushed
    cmp ebx, MARK_EBX
    jne 8f
    cmp edx, MARK_EDX
    jne 8f
    cmp edi, MARK_EDI
    jne 8f
    cmp ebp, ds:[SAVED_EBP]
    jne 8f
    push eax
    fnstsw ax
    movzx eax, ax
    shr eax, 11
    add eax, \pushed
    and eax, 7
    cmp eax, ds:[SAVED_TOP]
    pop eax
    je 9f
8:
    or dword ptr ds:[REGISTER_FAULTS], \fault
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
    .org _GameThirdPersonCameraBegin + (DISTANCE_CALL - CAMERA_ROUTINE)
1:
    .byte 0xE8
    .long GAME_DISTANCE - (DISTANCE_CALL + 5)
    CHECK_KEPT 1, 1
    fstp dword ptr [esi + 0x40]
    jmp 2f
    .org _GameThirdPersonCameraBegin + (OFFSET_CALL - CAMERA_ROUTINE)
2:
    .byte 0xE8
    .long GAME_OFFSET - (OFFSET_CALL + 5)
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

// float distance(): the float at DISTANCE_VALUE on the x87 stack.
    .globl _GameCameraDistanceBegin, _GameCameraDistanceEnd
_GameCameraDistanceBegin:
    push ebp
    mov ebp, esp
    fld dword ptr ds:[DISTANCE_VALUE]
    pop ebp
    ret
_GameCameraDistanceEnd:

// float* offset(): the pointer at OFFSET_POINTER (the three floats, or null).
    .globl _GameCameraOffsetBegin, _GameCameraOffsetEnd
_GameCameraOffsetBegin:
    push ebp
    mov ebp, esp
    mov eax, ds:[OFFSET_POINTER]
    pop ebp
    ret
_GameCameraOffsetEnd:

// Name test, ECX = node's name field, EDX = reference: passes every name but
// UNNAMED_FOR_TEST, and records EDX at NAME_TEST_REFERENCE.
    .globl _GameNodeNameTestBegin, _GameNodeNameTestEnd
_GameNodeNameTestBegin:
    push ebp
    mov ebp, esp
    mov ds:[NAME_TEST_REFERENCE], edx
    xor eax, eax
    cmp dword ptr [ecx], UNNAMED_FOR_TEST
    setne al
    pop ebp
    ret
_GameNodeNameTestEnd:
