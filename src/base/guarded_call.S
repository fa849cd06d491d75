// GuardedCall and its exception handler; see guarded_call.h.
//
// GuardedCall's frame, below its EBP:
//   [ebp-4] EBX, [ebp-8] ESI, [ebp-12] EDI of the caller,
//   [ebp-16] x87 control word, [ebp-20] MXCSR on entry,
//   [ebp-32] the registration record: next record, GuardHandler, this EBP.
// The handler, once it accepts a fault, unwinds the frames inside the record
// with RtlUnwind (which leaves FS:[0] on the record) and jumps back into
// GuardedCall with ESP on the record, EBP restored and EAX the code.
    .intel_syntax noprefix
    .text

    .globl _GuardedCall
_GuardedCall:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    sub esp, 8
    fnstcw word ptr [ebp-16]
    stmxcsr dword ptr [ebp-20]
    push ebp
    push offset _GuardHandler
    push dword ptr fs:[0]
    mov dword ptr fs:[0], esp
    and esp, -16
    sub esp, 12
    push dword ptr [ebp+12]
    call dword ptr [ebp+8]
    xor eax, eax
.Lresume:
    mov ecx, [ebp-32]
    mov dword ptr fs:[0], ecx
    lea esp, [ebp-12]
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret

// The body left the x87 unit and MXCSR in any state (the dispatcher has
// cleared the direction flag).
.Lrecover:
    fninit
    fldcw word ptr [ebp-16]
    ldmxcsr dword ptr [ebp-20]
    jmp .Lresume

// EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD*, record, CONTEXT*,
// dispatcher context), cdecl, called by the exception dispatcher.
_GuardHandler:
    mov eax, [esp+4]
    test dword ptr [eax+4], 6           // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
    jnz .Lsearch
    push eax
    call _GuardRecovers
    add esp, 4
    test al, al
    jz .Lsearch
    mov ebx, [esp+4]
    mov esi, [esp+8]
    // RtlUnwind need not keep EBX and ESI.
    push esi
    push ebx
    push 0
    push ebx
    push offset .Lunwound
    push esi
    call _RtlUnwind@16
.Lunwound:
    pop ebx
    pop esi
    mov eax, [ebx]
    mov esp, esi
    mov ebp, [esi+8]
    jmp .Lrecover
.Lsearch:
    mov eax, 1                          // ExceptionContinueSearch
    ret
