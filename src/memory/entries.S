// Entry points of the memory patches that the game reaches through its
// redirected routines.
//
// Every routine here is entered in the game's member-function convention:
// the object in ECX, 32-bit arguments on the stack, removed by the callee;
// EAX carries a result (AL a one-byte boolean). EBX, ESI, EDI and EBP are
// kept; ECX and EDX are not. The game keeps ESP only 4-byte aligned, while
// the compiled bodies expect the 16-byte alignment of the C convention.
    .intel_syntax noprefix
    .text

// Entered as above with \args stack arguments; calls the cdecl \body with
// (object, arguments...) on a 16-byte aligned stack and returns its EAX.
.macro THISCALL_ENTRY name, body, args
    .globl \name
\name:
    push ebp
    mov ebp, esp
    sub esp, 20
    and esp, -16
    mov [esp], ecx
    .irp k, 1, 2, 3, 4
    .if \k <= \args
    mov ecx, [ebp + 4 + 4 * \k]
    mov [esp + 4 * \k], ecx
    .endif
    .endr
    call \body
    mov esp, ebp
    pop ebp
    .if \args
    ret 4 * \args
    .else
    ret
    .endif
.endm

// Havok's default allocator: allocate(size), free(block, size).
THISCALL_ENTRY _HavokHeapAllocateHook, _AllocateHavokBlock, 1
THISCALL_ENTRY _HavokHeapFreeHook, _FreeHavokBlock, 2

// The form heap: allocate(size, alignment, flag).
THISCALL_ENTRY _FormHeapAllocateHook, _AllocateFormBlock, 3

// Loading waits: the event wait (no arguments, the wait's result), the
// tracked call (no arguments, one-byte result) and the spin-lock acquire
// (one ignored argument).
THISCALL_ENTRY _EventWaitHook, _WaitForGameEvent, 0
THISCALL_ENTRY _TrackedCallHook, _CallTrackedRoutine, 0
THISCALL_ENTRY _SpinLockEnterHook, _EnterGameSpinLock, 1

// The slot lookup: lookup(index), the slot's address.
THISCALL_ENTRY _SlotLookupHook, _LookUpSlot, 1

// Havok resources: locked routine 1 (no arguments, 32-bit result), locked
// routine 2 (a float and three 32-bit values), release(argument).
THISCALL_ENTRY _HavokResourceLockedHook1, _CallLockedRoutine1, 0
THISCALL_ENTRY _HavokResourceLockedHook2, _CallLockedRoutine2, 4
THISCALL_ENTRY _HavokResourceReleaseHook, _ReleaseHavokResource, 1

// The form heap's pass-through routine: the game's own routine runs, entered
// with every register and the stack exactly as the caller left them.
    .globl _FormHeapPassThroughHook
_FormHeapPassThroughHook:
    jmp dword ptr [_FormHeapPassThroughSite]

// The gated routine, called on a game object with no arguments: either a
// tail call into the game's routine with ECX, EDX and the stack as the
// caller left them, or an immediate return.
    .globl _GatedCallHook
_GatedCallHook:
    push ecx
    push edx
    call _GatedCallAllowed
    pop edx
    pop ecx
    test al, al
    jz 1f
    jmp dword ptr [_GatedCallSite]
1:  ret
