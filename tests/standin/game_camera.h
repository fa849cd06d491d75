#pragma once

#include <cstdint>

#include "camera/camera_addresses.h"
#include "standin/standin_sites.h"

namespace standin {

// The game's third-person camera routine at game::kThirdPersonCamera
// (member-function convention, one stack argument, result 2 * argument + 1).
// It stores what the distance function returns at +0x40 of its object and
// the offset's three floats at +0x44, +0x48 and +0x4c (nothing when the
// offset function returns null). Its records are in standin_sites.h.

// Copies the camera routine, the distance and offset functions and the node
// name test to their game addresses; clears the register faults.
void PlaceGameCamera();

}  // namespace standin
