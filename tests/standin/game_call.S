// void CallGame(GameCall* call), cdecl.
// Makes one call the way the game does: pushes call->args (last first) on a
// stack misaligned from 16 by call->misalign, loads ECX with the object and
// EDX with call->edx, fills EBX, ESI and EDI with markers, calls
// call->function, then records EAX, how many argument bytes the callee
// removed and which of EBX, ESI, EDI it changed. EBP is this routine's frame
// pointer: a callee that loses it crashes the call.
    .intel_syntax noprefix
    .text
    .globl _CallGame
_CallGame:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    mov edx, [ebp + 8]
    and esp, -16
    sub esp, 64
    sub esp, [edx + 44]
    mov [ebp - 16], esp
    mov ecx, [edx + 24]
1:  test ecx, ecx
    jz 2f
    push dword ptr [edx + 4 + ecx * 4]
    dec ecx
    jmp 1b
2:  mov eax, [edx]
    mov ecx, [edx + 4]
    mov edx, [edx + 28]
    mov ebx, 0xB0B0B0B0
    mov esi, 0x51515151
    mov edi, 0xD1D1D1D1
    call eax
    mov edx, [ebp + 8]
    mov [edx + 32], eax
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
5:  mov [edx + 40], ecx
    mov eax, [edx + 24]
    shl eax, 2
    add eax, esp
    sub eax, [ebp - 16]
    mov [edx + 36], eax
    lea esp, [ebp - 12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
