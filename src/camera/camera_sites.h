#pragma once

#include <cstdint>

#include "camera/camera_addresses.h"
#include "patching/patching.h"

// Offsets into the game's objects.
constexpr uint32_t kSingletonReferenceHolder = 0x44;
constexpr uint32_t kHolderReference = 0x20;
constexpr uint32_t kSingletonRootNode = 0x58c;
constexpr uint32_t kNodeName = 0x08;
constexpr uint32_t kNodeValue = 0x50;
constexpr uint32_t kNodeChildren = 0xac;
constexpr uint32_t kNodeChildCount = 0xb0;

// Virtual-table slots of the game's node and reference objects.
constexpr uint32_t kSlotIsNode = 3;
constexpr uint32_t kSlotFindByName = 39;

extern PatchSite ThirdPersonCameraSite;
