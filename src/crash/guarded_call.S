// bool GuardedCall(GuardedBody body, void* argument), cdecl.
//
// A registration record on this routine's stack, linked at the head of the
// thread's exception chain (FS:[0]) for the duration of the call:
//   [record + 0]  next record (the chain as it was)
//   [record + 4]  GuardHandler
//   [record + 8]  this routine's EBP
// When body raises an exception that nothing above the guard handles, the
// handler unwinds the frames above the record (their handlers run with the
// unwinding flag, as the system's own unwinding does) and resumes at
// `faulted` with ESP = the record and EBP restored; EBX, ESI and EDI come back
// from this routine's stack.
    .intel_syntax noprefix
    .text
    .globl _GuardedCall
_GuardedCall:
    push ebp
    mov ebp, esp
    push ebx
    push esi
    push edi
    push ebp
    push offset GuardHandler
    push dword ptr fs:[0]
    mov dword ptr fs:[0], esp
    push dword ptr [ebp + 12]
    call dword ptr [ebp + 8]
    add esp, 4
    mov eax, 1
leave_guard:
    mov ecx, [esp]
    mov dword ptr fs:[0], ecx
    add esp, 12
    pop edi
    pop esi
    pop ebx
    pop ebp
    ret
faulted:
    xor eax, eax
    jmp leave_guard

// EXCEPTION_DISPOSITION GuardHandler(EXCEPTION_RECORD* record, void* frame,
//                                    CONTEXT*, void* dispatcher), cdecl.
// Called by the system's dispatcher. During an unwind it lets the unwind go
// on; otherwise it never returns: RtlUnwind (stdcall, keeps no registers the
// caller relies on) takes the chain back to this record, then execution
// continues in GuardedCall at `faulted`.
GuardHandler:
    mov eax, [esp + 4]
    test dword ptr [eax + 4], 6    // EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND
    jnz continue_search
    push 0
    push eax
    push 0
    push dword ptr [esp + 20]      // the record (frame argument, 3 pushes later)
    call _RtlUnwind@16
    mov ecx, [esp + 8]             // the record
    mov esp, ecx
    mov ebp, [ecx + 8]
    jmp faulted
continue_search:
    mov eax, 1                     // ExceptionContinueSearch
    ret
