#pragma once

// Every place in the game's executable (and in the libraries it loads) that
// the plug-in changes: the one table below. Redirections go through
// PatchAttach inside the start-up transactions; jump writes (WriteRelJump)
// take effect at once and are never undone. The addresses and sites
// themselves live with their features.

#include <cstdint>

#include "camera/camera_sites.h"
#include "memory/always_on.h"
#include "memory/form_heap.h"
#include "memory/havok_heap.h"
#include "memory/havok_resources.h"
#include "memory/infinite_load.h"
#include "shadercache/effect_sites.h"
#include "simd/math_sites.h"
#include "textures/texture_sites.h"

// FoundRedirection: a library function looked up by name at run time; its
// row has address 0 and names the library and the function.
enum class PlaceKind { Redirection, Jump, FoundRedirection };
enum class Removal { Never, AtShutDown, IfInstalled };

struct GamePlace {
  uintptr_t address;  // 0: a library function found at run time (see the site)
  const char* name;   // the site (redirection) or the jump
  PlaceKind kind;
  const char* installedBy;         // settings key, or "always"
  const char* replacement;         // replacement function or stub
  Removal removal;                 // jumps: always Never
  uintptr_t continuation;          // jumps: where the stub continues; 0 otherwise
  const char* library = nullptr;   // FoundRedirection only
  const char* function = nullptr;  // FoundRedirection only
};

inline constexpr GamePlace kGamePlaces[] = {
    // kernel32 SetUnhandledExceptionFilter, from the import table at static
    // initialisation.
    {0, "ExceptionFilterSite", PlaceKind::FoundRedirection, "always", "ExceptionFilterHook",
     Removal::AtShutDown, 0, "kernel32.dll", "SetUnhandledExceptionFilter"},
    // D3DX functions looked up by name: the effect creators at process attach,
    // the texture creators in SKSEPlugin_Load.
    {0, "CreateEffectSite", PlaceKind::FoundRedirection, "UseShaderCache (at process attach)",
     "CacheCreateEffect", Removal::IfInstalled, 0, kEffectLibrary, kCreateEffectName},
    {0, "CreateEffectFromFileASite", PlaceKind::FoundRedirection, "UseShaderCache (at process attach)",
     "CacheCreateEffectFromFileA", Removal::IfInstalled, 0, kEffectLibrary, kCreateEffectFromFileAName},
    {0, "CreateTextureFromFileInMemorySite", PlaceKind::FoundRedirection, "FasterLoading",
     "FastCreateTextureFromFileInMemory", Removal::IfInstalled, 0, "D3DX9_42.dll",
     "D3DXCreateTextureFromFileInMemory"},
    {0, "CreateTextureFromFileInMemoryExSite", PlaceKind::FoundRedirection, "FasterLoading",
     "FastCreateTextureFromFileInMemoryEx", Removal::IfInstalled, 0, "D3DX9_43.dll",
     "D3DXCreateTextureFromFileInMemoryEx"},
    // Fixed addresses in the game executable, in address order.
    {kGameSpinLockEnter, "SpinLockEnterSite", PlaceKind::Redirection, "FixInfiniteLoad", "SpinLockEnterHook",
     Removal::Never, 0},
    {kGameGatedCall, "GatedCallSite", PlaceKind::Redirection, "FixInfiniteLoad", "GatedCallHook",
     Removal::IfInstalled, 0},
    {kGameMatrixMultiply, "MatrixMultiplySite", PlaceKind::Redirection, "always",
     "MatrixMultiplySsse3 / MatrixMultiplySse2", Removal::AtShutDown, 0},
    {kGameTransformMultiply, "TransformMultiplySite", PlaceKind::Redirection, "always",
     "TransformMultiplySsse3 / TransformMultiplySse2", Removal::AtShutDown, 0},
    {kReleaseLoopJumpAt, "ReleaseLoopJump", PlaceKind::Jump, "always", "ReleaseLoopStub", Removal::Never,
     kReleaseLoopContinue},
    {kGameSlotLookup, "SlotLookupSite", PlaceKind::Redirection, "always", "SlotLookupHook",
     Removal::AtShutDown, 0},
    {kGameInsertedSleep, "InsertedSleepJump", PlaceKind::Jump, "always", "InsertedSleepStub", Removal::Never,
     kGameInsertedSleepContinue},
    {kGameThirdPersonCamera, "ThirdPersonCameraSite", PlaceKind::Redirection, "fix3rdPersonCameraScale",
     "ThirdPersonCameraHook", Removal::Never, 0},
    {kCameraScaleJump1, "CameraScaleJump1", PlaceKind::Jump, "fix3rdPersonCameraScale", "CameraScaleStub1",
     Removal::Never, kCameraScaleContinue1},
    {kCameraScaleJump2, "CameraScaleJump2", PlaceKind::Jump, "fix3rdPersonCameraScale", "CameraScaleStub2",
     Removal::Never, kCameraScaleContinue2},
    {kGameFormHeapPassThrough, "FormHeapPassThroughSite", PlaceKind::Redirection,
     "RecordFormHeapAllocateFailed", "FormHeapPassThroughHook", Removal::Never, 0},
    {kGameFormHeapAllocate, "FormHeapAllocateSite", PlaceKind::Redirection, "RecordFormHeapAllocateFailed",
     "FormHeapAllocateHook", Removal::IfInstalled, 0},
    {kFormHeapLargerSpaceJumpAt, "FormHeapLargerSpaceJump", PlaceKind::Jump,
     "FormHeapAllocateFromLargerSpace", "FormHeapLargerSpaceStub", Removal::Never,
     kFormHeapLargerSpaceContinue},
    {kGameEventWait, "EventWaitSite", PlaceKind::Redirection, "FixInfiniteLoad", "EventWaitHook",
     Removal::IfInstalled, 0},
    {kGameTrackedCall, "TrackedCallSite", PlaceKind::Redirection, "FixInfiniteLoad", "TrackedCallHook",
     Removal::Never, 0},
    {kGameBoxPlanesTest, "BoxPlanesTestSite", PlaceKind::Redirection, "always",
     "BoxPlanesTestSse41 / BoxPlanesTestSse3", Removal::AtShutDown, 0},
    {kGameHavokResourceRelease, "HavokResourceReleaseSite", PlaceKind::Redirection,
     "always (doNotReleaseHavokResource selects its behaviour)", "HavokResourceReleaseHook",
     Removal::AtShutDown, 0},
    {kGameHavokResourceLocked2, "HavokResourceLockedSite2", PlaceKind::Redirection, "always",
     "HavokResourceLockedHook2", Removal::AtShutDown, 0},
    {kGameHavokResourceLocked1, "HavokResourceLockedSite1", PlaceKind::Redirection, "always",
     "HavokResourceLockedHook1", Removal::AtShutDown, 0},
    {kGameHavokHeapAllocate, "HavokHeapAllocateSite", PlaceKind::Redirection, "ReplaceDefaultHavokHeap",
     "HavokHeapAllocateHook", Removal::IfInstalled, 0},
    {kGameHavokHeapFree, "HavokHeapFreeSite", PlaceKind::Redirection, "ReplaceDefaultHavokHeap",
     "HavokHeapFreeHook", Removal::IfInstalled, 0},
};
