#pragma once

// The game addresses of the camera fix; shared with camera_stubs.S.

#include "base/game_address.h"

// The third-person camera routine and the two calls inside it whose results
// are scaled (CameraScaleJump1 calls kCameraDistance, CameraScaleJump2
// kCameraOffset), with the instructions after them.
GAME_ADDRESS(kThirdPersonCamera, 0x83fcf0)
GAME_ADDRESS(kCameraScaleJump1, 0x83fd6d)
GAME_ADDRESS(kCameraScaleJump2, 0x83fe03)
GAME_ADDRESS(kCameraScaleContinue1, 0x83fd72)
GAME_ADDRESS(kCameraScaleContinue2, 0x83fe08)

// Game functions the fix calls: the distance (a float on the x87 stack),
// the offset (EAX: three floats), the node name test (ECX: name field, EDX:
// reference).
GAME_ADDRESS(kCameraDistance, 0x6b8800)
GAME_ADDRESS(kCameraOffset, 0x474cd0)
GAME_ADDRESS(kNodeNameTest, 0xa50ac0)

// The game singleton whose node tree receives the copied values.
GAME_ADDRESS(kSceneSingleton, 0x1b2e8e4)

// The scale factor: [[ESI + kCameraScaleCarrier] + kCarrierScale].
GAME_CONSTANT(kCameraScaleCarrier, 0x18)
GAME_CONSTANT(kCarrierScale, 0x84)
