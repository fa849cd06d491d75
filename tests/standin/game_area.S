// The stand-in game's address space: an uninitialised, writable, executable
// section that the link places at 0x401000, so the game's fixed code and data
// addresses (up to 0x1c00000) are real memory of this process.
    .section .game,"bwx"
    .globl _game_area
_game_area:
    .space 0x17FF000
