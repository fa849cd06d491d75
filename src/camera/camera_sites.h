#pragma once

#include <cstdint>

#include "patching/transaction.h"

// The third-person camera routine and the two calls inside it whose results
// are scaled.
constexpr uintptr_t kGameThirdPersonCamera = 0x83fcf0;
constexpr uintptr_t kCameraScaleJump1 = 0x83fd6d;  // call of kGameCameraDistance
constexpr uintptr_t kCameraScaleJump2 = 0x83fe03;  // call of kGameCameraOffset
constexpr uintptr_t kCameraScaleContinue1 = 0x83fd72;
constexpr uintptr_t kCameraScaleContinue2 = 0x83fe08;

// Game functions the fix calls.
constexpr uintptr_t kGameCameraDistance = 0x6b8800;  // float on the x87 stack
constexpr uintptr_t kGameCameraOffset = 0x474cd0;    // EAX: three floats
constexpr uintptr_t kGameNodeNameTest = 0xa50ac0;    // ECX: name field, EDX: reference

// The game singleton whose node tree receives the copied values, and the
// offsets into the game's objects.
constexpr uintptr_t kGameSceneSingleton = 0x1b2e8e4;
constexpr uint32_t kSingletonReferenceHolder = 0x44;
constexpr uint32_t kHolderReference = 0x20;
constexpr uint32_t kSingletonRootNode = 0x58c;
constexpr uint32_t kNodeName = 0x08;
constexpr uint32_t kNodeValue = 0x50;
constexpr uint32_t kNodeChildren = 0xac;
constexpr uint32_t kNodeChildCount = 0xb0;
constexpr uint32_t kCameraScaleCarrier = 0x18;  // on the object in ESI
constexpr uint32_t kCarrierScale = 0x84;

// Virtual-table slots of the game's node and reference objects.
constexpr uint32_t kSlotIsNode = 3;
constexpr uint32_t kSlotFindByName = 39;

extern PatchSite ThirdPersonCameraSite;
