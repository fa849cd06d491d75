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

constexpr unsigned kVerdictExitBase = 0x7E00;
constexpr char kFactsPath[] = "crash-facts.txt";
// Written by the second thread of "two-threads" just before it faults.
constexpr char kSecondFaultPath[] = "second-fault.txt";
