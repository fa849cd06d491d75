#pragma once

// The jump writes of the memory patches and the game addresses their stubs
// use. Plain macros, so that the stubs' assembly shares them.

// ReleaseLoopJump: the release loop inside a game routine.
#define RELEASE_LOOP_JUMP_AT 0x55e050
#define RELEASE_LOOP_CONTINUE 0x55e075
// Game routine called on the loop's table object with an index: the entry or null.
#define GAME_TABLE_ENTRY 0x4885e0

// FormHeapLargerSpaceJump: six bytes of the form heap's code that push its
// space size.
#define FORM_HEAP_LARGER_SPACE_JUMP_AT 0xa493d1
#define FORM_HEAP_LARGER_SPACE_CONTINUE 0xa493d7
#define FORM_HEAP_LARGER_SPACE 0x102000
