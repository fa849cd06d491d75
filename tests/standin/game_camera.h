#pragma once

#include <cstdint>

namespace standin {

// The game's third-person camera routine (member-function convention, one
// stack argument, result 2 * argument + 1). It stores what the distance
// function returns at +0x40 of its object and the offset's three floats at
// +0x44, +0x48 and +0x4c (nothing when the offset function returns null).
constexpr uint32_t kGameThirdPersonCamera = 0x83fcf0;
// Globals the stand-in distance and offset functions return: the distance,
// and a pointer (set to kCameraOffsetValues, may be made null) to the offset.
constexpr uint32_t kCameraDistanceValue = 0x1b40000;
constexpr uint32_t kCameraOffsetValues = 0x1b40010;
constexpr uint32_t kCameraOffsetPointer = 0x1b40024;
// Bits the camera routine sets when a call inside it (or its stand-in stub)
// did not keep EBX, EDX, EDI, EBP or the x87 stack depth: 1 for the
// distance call, 2 for the offset call.
constexpr uint32_t kCameraRegisterFaults = 0x1b40028;
// Where the name test records the reference it was given (EDX).
constexpr uint32_t kNameTestReference = 0x1b40020;
// The name the name test refuses.
constexpr uint32_t kNameRefusedByTest = 0xDEAD;
// The scene singleton pointer the camera fix reads.
constexpr uint32_t kGameSceneSingleton = 0x1b2e8e4;

// Copies the camera routine, the distance and offset functions and the node
// name test to their game addresses; clears the register faults.
void PlaceGameCamera();

}  // namespace standin
