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
    .set OFFSET_VALUES, 0x1b40010
    .set NAME_TEST_REFERENCE, 0x1b40020
    .set UNNAMED_FOR_TEST, 0xDEAD

// uint32_t __thiscall camera(Camera* this, uint32_t argument): stores the
// distance at [this + 0x40] and the offset at [this + 0x44..0x4c], returns
// 2 * argument + 1.
    .globl _GameThirdPersonCameraBegin, _GameThirdPersonCameraEnd
_GameThirdPersonCameraBegin:
    push ebp
    mov ebp, esp
    push esi
    mov esi, ecx
    jmp 1f
    .org _GameThirdPersonCameraBegin + (DISTANCE_CALL - CAMERA_ROUTINE)
1:
    .byte 0xE8
    .long GAME_DISTANCE - (DISTANCE_CALL + 5)
    fstp dword ptr [esi + 0x40]
    jmp 2f
    .org _GameThirdPersonCameraBegin + (OFFSET_CALL - CAMERA_ROUTINE)
2:
    .byte 0xE8
    .long GAME_OFFSET - (OFFSET_CALL + 5)
    mov ecx, [eax]
    mov [esi + 0x44], ecx
    mov ecx, [eax + 4]
    mov [esi + 0x48], ecx
    mov ecx, [eax + 8]
    mov [esi + 0x4c], ecx
    mov eax, [ebp + 8]
    lea eax, [eax + eax + 1]
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

// float* offset(): the three floats at OFFSET_VALUES.
    .globl _GameCameraOffsetBegin, _GameCameraOffsetEnd
_GameCameraOffsetBegin:
    push ebp
    mov ebp, esp
    mov eax, OFFSET_VALUES
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
