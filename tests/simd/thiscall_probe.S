// void ProbeThiscall(ThiscallProbe* probe), cdecl.
// Pushes probe->args (last first), loads ECX with probe->object, fills EBX,
// ESI, EDI with markers and EDX with garbage, calls probe->function, then
// records EAX, how many argument bytes the callee removed and which of the
// callee-saved registers it changed. EBP is this routine's frame pointer: a
// callee that loses it crashes the probe.
    .intel_syntax noprefix
    .text
    .globl _ProbeThiscall
_ProbeThiscall:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov edx, [ebp+8]
    // ESP after the pushes of the arguments = misalign (mod 16).
    and esp, -16
    sub esp, 64
    mov ecx, [edx+16]
    lea eax, [ecx*4]
    add eax, [edx+20]
    and eax, 15
    add esp, eax
    mov [ebp-16], esp
1:  test ecx, ecx
    jz 2f
    push dword ptr [edx+4+ecx*4]
    dec ecx
    jmp 1b
2:  mov eax, [edx]
    mov ecx, [edx+4]
    mov ebx, 0xB0B0B0B0
    mov esi, 0x51515151
    mov edi, 0xD1D1D1D1
    mov edx, 0xEEEEEEEE
    call eax
    mov edx, [ebp+8]
    mov [edx+24], eax
    xor ecx, ecx
    cmp ebx, 0xB0B0B0B0
    je 3f
    or ecx, 1
3:  cmp esi, 0x51515151
    je 4f
    or ecx, 2
4:  cmp edi, 0xD1D1D1D1
    je 5f
    or ecx, 4
5:  mov [edx+32], ecx
    mov eax, [edx+16]
    shl eax, 2
    add eax, esp
    sub eax, [ebp-16]
    mov [edx+28], eax
    lea esp, [ebp-12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
