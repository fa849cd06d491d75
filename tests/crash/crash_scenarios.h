#pragma once

// What the crashing stand-in game (crash_game.exe) does, by its first
// argument; shared with the tests that start it.
constexpr char kScenarioWrite[] = "write";                     // writes address 0x10
constexpr char kScenarioReadSymbols[] = "read-symbols";        // symbols set up, reads address 0
constexpr char kScenarioCyclicFrames[] = "cyclic-frames";      // writes 0x10 with a frame chain in a loop
constexpr char kScenarioCxxHavok[] = "cxx-havok";              // a C++ throw, with a Havok block
constexpr char kScenarioSaveBlock[] = "save-block";            // writes 0x10; the save never returns
constexpr char kScenarioSaveFault[] = "save-fault";            // writes 0x10; the save faults
constexpr char kScenarioNoManager[] = "no-manager";            // writes 0x10; no save manager yet
constexpr char kScenarioVerdict[] = "verdict";                 // exits with kVerdictExitBase + the verdict
constexpr char kScenarioUnload[] = "unload";                   // plug-in unloaded before the fault
constexpr char kScenarioOverflowMain[] = "overflow-main";      // stack overflow on the main thread
constexpr char kScenarioOverflowThread[] = "overflow-thread";  // stack overflow on a second thread
// The main thread holds the process heap lock and writes 0x10; a second
// thread writes 0x20 while the first is reported; "verdict" exit codes.
constexpr char kScenarioTwoThreads[] = "two-threads";
constexpr char kScenarioHavokHang[] = "havok-hang";  // writes 0x10; a Havok statistics call never returns
constexpr char kScenarioDllFault[] = "dll-fault";    // faults inside msvcrt.dll
constexpr char kScenarioNoModule[] = "no-module";    // faults in code outside any module
// Freezes the handling once had; each writes 0x10 on the main thread.
constexpr char kScenarioSecondHoldsHeap[] = "second-holds-heap";  // a second crasher holds the heap lock
constexpr char kScenarioLoggingThread[] = "logging-thread";       // another thread logs; the heap is held
constexpr char kScenarioHavokHangLocked[] =
    "havok-hang-locked";                                   // a Havok call takes the heap, never returns
constexpr char kScenarioOverflowHang[] = "overflow-hang";  // a stack overflow; the Havok call hangs
constexpr char kScenarioHavokBreak[] = "havok-break";      // a breakpoint in the Havok call
constexpr char kScenarioDumpFails[] = "dump-fails";        // the minidump writer fails
constexpr char kScenarioRegisters[] = "registers";  // ESI: an object with type information; EDI: msvcrt code
constexpr char kScenarioNoFramePointer[] = "no-frame-pointer";  // faults in a routine without a frame pointer
constexpr char kScenarioReplacement[] = "replacement";          // the game's matrix product, bad operand

constexpr unsigned kVerdictExitBase = 0x7E00;
constexpr char kFactsPath[] = "crash-facts.txt";
// Written by the second thread of "two-threads" just before it faults.
constexpr char kSecondFaultPath[] = "second-fault.txt";
