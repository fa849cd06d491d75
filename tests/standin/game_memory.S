// The stand-in game's routines around memory: the places the memory patches
// redirect, jump into or call. Each lies between its Begin and End labels and
// is copied to its game address at run time, so it uses no relative
// reference outside itself; game addresses are absolute. Routines begin like
// compiled code, so the patching engine can move their first instructions.
//
// Member-function convention unless noted: the object in ECX, arguments on
// the stack removed by the callee; EAX, ECX and EDX are scratch.
    .intel_syntax noprefix
    .text

#include "memory/memory_addresses.h"
#include "standin/standin_sites.h"

// The thread id in the thread's information block.
#define TEB_THREAD_ID 0x24

.macro ROUTINE name
    .globl _\name\()Begin, _\name\()End
_\name\()Begin:
.endm
.macro END_ROUTINE name
_\name\()End:
.endm

// void enter(uint32_t) on a lock {owner thread id, count}: re-entry by the
// owner, otherwise spin until free.
ROUTINE GameSpinLockEnter
    push ebp
    mov ebp, esp
    push ebx
    push esi
    mov esi, ecx
    mov ebx, dword ptr fs:[TEB_THREAD_ID]
    cmp [esi], ebx
    je 2f
1:  xor eax, eax
    lock cmpxchg [esi], ebx
    je 2f
    pause
    jmp 1b
2:  lock inc dword ptr [esi + 4]
    pop esi
    pop ebx
    pop ebp
    ret 4
END_ROUTINE GameSpinLockEnter

// void leave() on the same lock: the last leave frees it.
ROUTINE GameSpinLockLeave
    lock dec dword ptr [ecx + 4]
    jnz 1f
    mov dword ptr [ecx], 0
1:  ret
END_ROUTINE GameSpinLockLeave

// void run() on an object whose first dword counts the runs.
ROUTINE GameGatedCall
    push ebp
    mov ebp, esp
    lock inc dword ptr [ecx]
    pop ebp
    ret
END_ROUTINE GameGatedCall

// void* entry(uint32_t index) on a table {count, entries}: null past the end.
ROUTINE GameTableEntry
    push ebp
    mov ebp, esp
    mov eax, [ebp + 8]
    cmp eax, [ecx]
    jae 1f
    mov edx, [ecx + 4]
    mov eax, [edx + eax * 4]
    pop ebp
    ret 4
1:  xor eax, eax
    pop ebp
    ret 4
END_ROUTINE GameTableEntry

// uint32_t release(uint32_t begin, uint32_t end) on an object holding its
// table at offset 0x20: calls the first virtual function, with 1, of every
// table entry from begin to end. Compiled without a frame pointer: in the
// loop at kReleaseLoopJump ESI is the object, EDI the index and EBP the
// end. From kReleaseLoopContinue on it stores EBP at offset 0x24 of the
// object in ESI and returns the index.
ROUTINE GameReleaseRange
    push ebx
    push ebp
    push esi
    push edi
    mov esi, ecx
    mov edi, [esp + 20]
    mov ebp, [esp + 24]
    cmp edi, ebp
    jae 3f
    .org _GameReleaseRangeBegin + (kReleaseLoopJump - kGameReleaseRange), 0x90
1:  mov ecx, [esi + 0x20]
    push edi
    mov eax, kTableEntry
    call eax
    test eax, eax
    je 2f
    mov ecx, eax
    mov edx, [eax]
    push 1
    call dword ptr [edx]
2:  inc edi
    cmp edi, ebp
    jb 1b
    .org _GameReleaseRangeBegin + (kReleaseLoopContinue - kGameReleaseRange), 0x90
3:  mov [esi + 0x24], ebp
    mov eax, edi
    pop edi
    pop esi
    pop ebp
    pop ebx
    ret 8
END_ROUTINE GameReleaseRange

// uint32_t* slot(uint32_t index) on an object with its slots at 0x10,
// unchecked.
ROUTINE GameSlotLookup
    push ebp
    mov ebp, esp
    mov eax, [ebp + 8]
    lea eax, [ecx + eax * 4 + 0x10]
    pop ebp
    ret 4
END_ROUTINE GameSlotLookup

// uint32_t (uint32_t a, uint32_t b) on an object, taking a further value in
// EDX as some of the game's routines do: [object] + EDX + a - b.
ROUTINE GameFormHeapPassThrough
    push ebp
    mov ebp, esp
    mov eax, [ecx]
    add eax, edx
    add eax, [ebp + 8]
    sub eax, [ebp + 12]
    pop ebp
    ret 8
END_ROUTINE GameFormHeapPassThrough

// void* allocate(uint32_t size, uint32_t alignment, bool flag) on a heap
// {next, end, last flag}: the next block of that alignment, null when the
// heap is exhausted.
ROUTINE GameFormHeapAllocate
    push ebp
    mov ebp, esp
    push esi
    mov esi, ecx
    movzx eax, byte ptr [ebp + 16]
    mov [esi + 8], eax
    mov ecx, [ebp + 12]
    mov eax, [esi]
    lea eax, [eax + ecx - 1]
    neg ecx
    and eax, ecx
    mov edx, eax
    add edx, [ebp + 8]
    jc 1f
    cmp edx, [esi + 4]
    ja 1f
    mov [esi], edx
    jmp 2f
1:  xor eax, eax
2:  pop esi
    pop ebp
    ret 12
END_ROUTINE GameFormHeapAllocate

// cdecl void reserve(uint32_t value, uint32_t out[2]): at
// kFormHeapLargerSpaceJump six bytes push the space size 0x2000 and then EAX
// (the value); from kFormHeapLargerSpaceContinue on, not needing EAX, it
// takes both from its stack into out = {space, value}.
ROUTINE GameFormHeapReserve
    push ebp
    mov ebp, esp
    push esi
    mov esi, [ebp + 12]
    mov eax, [ebp + 8]
    .org _GameFormHeapReserveBegin + (kFormHeapLargerSpaceJump - kGameFormHeapReserve), 0x90
    push 0x2000
    push eax
    .org _GameFormHeapReserveBegin + (kFormHeapLargerSpaceContinue - kGameFormHeapReserve), 0x90
    pop ecx
    pop edx
    mov [esi], edx
    mov [esi + 4], ecx
    pop esi
    pop ebp
    ret
END_ROUTINE GameFormHeapReserve

// void destroy() on the one-dword object: records it and clears it. Fits
// the 16 bytes before the constructor.
ROUTINE GameEmptyObjectDestroy
    mov dword ptr [ecx], 0
    mov [kEmptyObjectDestroyed], ecx
    ret
END_ROUTINE GameEmptyObjectDestroy

// object* construct(const char* text) on a one-dword object: holds the text.
ROUTINE GameEmptyObjectConstruct
    push ebp
    mov ebp, esp
    mov eax, [ebp + 8]
    mov [ecx], eax
    lock inc dword ptr [kEmptyObjectConstructions]
    mov eax, ecx
    pop ebp
    ret 4
END_ROUTINE GameEmptyObjectConstruct

// void wait() on an object with a waitable handle at 0x30: waits without
// time-out, through the import table.
ROUTINE GameEventWait
    push ebp
    mov ebp, esp
    push -1
    push dword ptr [ecx + 0x30]
    mov eax, [kWaitForSingleObjectSlot]
    call eax
    pop ebp
    ret
END_ROUTINE GameEventWait

// bool run() on an object {vtable, lock}: runs the object's first virtual
// function inside the object's game lock.
ROUTINE GameTrackedCall
    push ebp
    mov ebp, esp
    push esi
    push ebx
    mov esi, ecx
    mov ecx, [esi + 4]
    push 0
    mov eax, kSpinLockEnter
    call eax
    mov ecx, esi
    mov eax, [esi]
    call dword ptr [eax]
    mov ebx, eax
    mov ecx, [esi + 4]
    mov eax, kGameSpinLockLeave
    call eax
    mov eax, ebx
    pop ebx
    pop esi
    pop ebp
    ret
END_ROUTINE GameTrackedCall

// void release(uint32_t argument) on a resource: records the argument at
// 0x10, then inside the game lock that 0x18 points to (none when null)
// counts the releases at 0x14.
ROUTINE GameResourceRelease
    push ebp
    mov ebp, esp
    push esi
    mov esi, ecx
    mov eax, [ebp + 8]
    mov [esi + 0x10], eax
    mov ecx, [esi + 0x18]
    test ecx, ecx
    jz 1f
    push 0
    mov eax, kSpinLockEnter
    call eax
1:  lock inc dword ptr [esi + 0x14]
    mov ecx, [esi + 0x18]
    test ecx, ecx
    jz 2f
    mov eax, kGameSpinLockLeave
    call eax
2:  pop esi
    pop ebp
    ret 4
END_ROUTINE GameResourceRelease

// void (float scale, uint32_t a, uint32_t b, uint32_t c) on an object
// {vtable, fields}: stores the four at 4..0x10, then runs the object's first
// virtual function.
ROUTINE GameResourceLocked2
    push ebp
    mov ebp, esp
    push esi
    mov esi, ecx
    movss xmm0, [ebp + 8]
    movss [esi + 4], xmm0
    mov eax, [ebp + 12]
    mov [esi + 8], eax
    mov eax, [ebp + 16]
    mov [esi + 12], eax
    mov eax, [ebp + 20]
    mov [esi + 16], eax
    mov ecx, esi
    mov eax, [esi]
    call dword ptr [eax]
    pop esi
    pop ebp
    ret 16
END_ROUTINE GameResourceLocked2

// uint32_t () on an object {vtable}: the result of its first virtual function.
ROUTINE GameResourceLocked1
    push ebp
    mov ebp, esp
    mov eax, [ecx]
    call dword ptr [eax]
    pop ebp
    ret
END_ROUTINE GameResourceLocked1

// void* allocate(int32_t size) on the allocator: 16-byte blocks from the
// stand-in's arena, counted.
ROUTINE GameHavokAllocate
    push ebp
    mov ebp, esp
    mov eax, [ebp + 8]
    add eax, 15
    and eax, -16
    lock xadd [kHavokArenaNext], eax
    lock inc dword ptr [kHavokGameAllocations]
    pop ebp
    ret 4
END_ROUTINE GameHavokAllocate

// void free(void* block, int32_t size) on the allocator: counted; the last
// allocator, block and size are recorded.
ROUTINE GameHavokFree
    push ebp
    mov ebp, esp
    mov [kHavokGameLastFree], ecx
    mov eax, [ebp + 8]
    mov [kHavokGameLastFree + 4], eax
    mov eax, [ebp + 12]
    mov [kHavokGameLastFree + 8], eax
    lock inc dword ptr [kHavokGameFrees]
    pop ebp
    ret 8
END_ROUTINE GameHavokFree
