#pragma once

// What the stand-in d3dcompiler_47.dll records of the calls it gets, read by
// the tests through its export StandinCompilerState.
//
// Its effect language: the source compiles when it holds "value=<number>",
// into testeffect::CompiledEffect of that number, or of the definition of a
// macro named VALUE when there is one; "pad=<count>" appends that many bytes
// after the object, which D3DX ignores. A source holding "#include" needs an
// include handler, which is asked to open "part.fxh" (its content unused).
// Anything else fails with E_FAIL and an error message.

#include <cstdint>

struct StandinCompileCall {
  bool sourceNameNull;
  bool sourceNameEmpty;
  bool entryPointNull;
  char target[16];
  uint32_t flags1;
  uint32_t flags2;
  const void* macros;
  const void* include;
};

constexpr int kStandinHistory = 32;

struct StandinCompilerRecord {
  int calls;
  StandinCompileCall history[kStandinHistory];  // the first kStandinHistory calls
  int liveBlobs;
};

using StandinCompilerStateFunction = StandinCompilerRecord* (*)();
