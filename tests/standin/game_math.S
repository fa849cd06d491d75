// The stand-in game's own math routines, the scalar way: one single-precision
// SSE operation at a time, in the order of the game's formulas. They are
// copied to the game's addresses at run time, so each is position-independent
// (no calls, no absolute addresses) and lies between its Begin and End labels.
//
// Member-function convention: the object in ECX, stack arguments removed by
// the callee; EAX, ECX and EDX are scratch, EBX, ESI, EDI and EBP are kept.
    .intel_syntax noprefix
    .text

// result(i, j) = (A(i,0) * B(0,j) + A(i,1) * B(1,j)) + A(i,2) * B(2,j) into
// [ebp + \out + 4 * (3i + j)], with A at ECX and B at EDX.
.macro PRODUCT_ELEMENT i, j, out
    movss xmm0, [ecx + 4 * (3 * \i)]
    mulss xmm0, [edx + 4 * \j]
    movss xmm1, [ecx + 4 * (3 * \i + 1)]
    mulss xmm1, [edx + 4 * (3 + \j)]
    addss xmm0, xmm1
    movss xmm1, [ecx + 4 * (3 * \i + 2)]
    mulss xmm1, [edx + 4 * (6 + \j)]
    addss xmm0, xmm1
    movss [ebp + \out + 4 * (3 * \i + \j)], xmm0
.endm

.macro ROTATION_PRODUCT out
    .irp i, 0, 1, 2
    .irp j, 0, 1, 2
    PRODUCT_ELEMENT \i, \j, \out
    .endr
    .endr
.endm

// Copies \count dwords from the frame at [ebp + \from] to [eax].
.macro COPY_OUT from, count
    .irp k, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12
    .if \k < \count
    mov edx, [ebp + \from + 4 * \k]
    mov [eax + 4 * \k], edx
    .endif
    .endr
.endm

// float* __thiscall (const float* a, float* result, const float* b)
// The product is built in the frame and copied out, so the result may
// overlap an operand.
    .globl _GameMatrixMultiplyBegin, _GameMatrixMultiplyEnd
_GameMatrixMultiplyBegin:
    push ebp
    mov ebp, esp
    sub esp, 36
    mov edx, [ebp + 12]
    ROTATION_PRODUCT -36
    mov eax, [ebp + 8]
    COPY_OUT -36, 9
    mov esp, ebp
    pop ebp
    ret 8
_GameMatrixMultiplyEnd:

// float* __thiscall (const float* a, float* result, const float* b)
// Rotation a.R * b.R, translation (a.R * b.t) * a.s + a.t, scale b.s * a.s.
    .globl _GameTransformMultiplyBegin, _GameTransformMultiplyEnd
_GameTransformMultiplyBegin:
    push ebp
    mov ebp, esp
    sub esp, 52
    mov edx, [ebp + 12]
    ROTATION_PRODUCT -52
    .irp i, 0, 1, 2
    movss xmm0, [ecx + 4 * (3 * \i)]
    mulss xmm0, [edx + 36]
    movss xmm1, [ecx + 4 * (3 * \i + 1)]
    mulss xmm1, [edx + 40]
    addss xmm0, xmm1
    movss xmm1, [ecx + 4 * (3 * \i + 2)]
    mulss xmm1, [edx + 44]
    addss xmm0, xmm1
    mulss xmm0, [ecx + 48]
    addss xmm0, [ecx + 36 + 4 * \i]
    movss [ebp - 52 + 36 + 4 * \i], xmm0
    .endr
    movss xmm0, [edx + 48]
    mulss xmm0, [ecx + 48]
    movss [ebp - 52 + 48], xmm0
    mov eax, [ebp + 8]
    COPY_OUT -52, 13
    mov esp, ebp
    pop ebp
    ret 8
_GameTransformMultiplyEnd:

// The box's lowest value of n.x minus |n|.E, one plane's term at a time:
// \reg = (|nx| * E.x + |ny| * E.y) + |nz| * E.z, plane at [esi + ebx].
.macro ABS_DOT reg
    mov eax, [esi + ebx]
    and eax, 0x7fffffff
    movd \reg, eax
    mulss \reg, [ecx + 32]
    mov eax, [esi + ebx + 4]
    and eax, 0x7fffffff
    movd xmm3, eax
    mulss xmm3, [ecx + 36]
    addss \reg, xmm3
    mov eax, [esi + ebx + 8]
    and eax, 0x7fffffff
    movd xmm3, eax
    mulss xmm3, [ecx + 40]
    addss \reg, xmm3
.endm

// bool __thiscall (const Box* box, const Planes* planes)
// For each plane whose mask bit (0-5) is set: false as soon as d > s with
// s = (n.C) - (|n|.E); C at box + 16, E at box + 32, mask at planes + 96.
    .globl _GameBoxPlanesTestBegin, _GameBoxPlanesTestEnd
_GameBoxPlanesTestBegin:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov esi, [ebp + 8]
    mov edi, [esi + 96]
    xor ebx, ebx
1:  test edi, 1
    jz 2f
    movss xmm0, [esi + ebx]
    mulss xmm0, [ecx + 16]
    movss xmm1, [esi + ebx + 4]
    mulss xmm1, [ecx + 20]
    addss xmm0, xmm1
    movss xmm1, [esi + ebx + 8]
    mulss xmm1, [ecx + 24]
    addss xmm0, xmm1
    ABS_DOT xmm2
    subss xmm0, xmm2
    movss xmm1, [esi + ebx + 12]
    // Unordered (NaN) sets CF: "not above", the plane passes.
    comiss xmm1, xmm0
    ja 3f
2:  shr edi, 1
    add ebx, 16
    cmp ebx, 96
    jb 1b
    mov eax, 1
    jmp 4f
3:  xor eax, eax
4:  pop edi
    pop esi
    pop ebx
    pop ebp
    ret 4
_GameBoxPlanesTestEnd:
