#pragma once

// The code a function pointer really leads to: an import stub (jmp through a
// slot of an import address table) is followed to the imported function, and
// a short jump to such a stub or to a near jump (a patch jump) is followed to
// its destination. A lone near jump at the start is not followed. Null gives
// null; unreadable memory is never read.
void* PatchCodeFromPointer(void* pointer);
