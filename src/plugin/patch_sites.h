#pragma once

// Every site in the game's executable (and in the libraries it loads) that
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
enum class SiteKind { Redirection, Jump, FoundRedirection };
enum class Removal { Never, AtShutDown, IfInstalled };

struct GameSite {
  uint32_t address;  // 0: a library function found at run time (see the site)
  const char* name;  // the site (redirection) or the jump
  SiteKind kind;
  const char* installedBy;         // settings key, or "always"
  const char* replacement;         // replacement function or stub
  Removal removal;                 // jumps: always Never
  uint32_t continuation;           // jumps: where the stub continues; 0 otherwise
  const char* library = nullptr;   // FoundRedirection only
  const char* function = nullptr;  // FoundRedirection only
};

inline constexpr GameSite kGameSites[] = {
    // kernel32 SetUnhandledExceptionFilter, from the import table at static
    // initialisation.
    {0, "ExceptionFilterSite", SiteKind::FoundRedirection, "always", "ExceptionFilterHook",
     Removal::AtShutDown, 0, "kernel32.dll", "SetUnhandledExceptionFilter"},
    // D3DX functions looked up by name: the effect creators at process attach,
    // the texture creators in SKSEPlugin_Load.
    {0, "CreateEffectSite", SiteKind::FoundRedirection, "UseShaderCache (at process attach)",
     "CacheCreateEffect", Removal::IfInstalled, 0, kEffectLibrary, kCreateEffectName},
    {0, "CreateEffectFromFileASite", SiteKind::FoundRedirection, "UseShaderCache (at process attach)",
     "CacheCreateEffectFromFileA", Removal::IfInstalled, 0, kEffectLibrary, kCreateEffectFromFileAName},
    {0, "CreateTextureFromFileInMemorySite", SiteKind::FoundRedirection, "FasterLoading",
     "FastCreateTextureFromFileInMemory", Removal::IfInstalled, 0, "D3DX9_42.dll",
     "D3DXCreateTextureFromFileInMemory"},
    {0, "CreateTextureFromFileInMemoryExSite", SiteKind::FoundRedirection, "FasterLoading",
     "FastCreateTextureFromFileInMemoryEx", Removal::IfInstalled, 0, "D3DX9_43.dll",
     "D3DXCreateTextureFromFileInMemoryEx"},
    // Fixed addresses in the game executable, in address order.
    {game::kSpinLockEnter, "SpinLockEnterSite", SiteKind::Redirection, "FixInfiniteLoad", "SpinLockEnterHook",
     Removal::Never, 0},
    {game::kGatedCall, "GatedCallSite", SiteKind::Redirection, "FixInfiniteLoad", "GatedCallHook",
     Removal::IfInstalled, 0},
    {game::kMatrixMultiply, "MatrixMultiplySite", SiteKind::Redirection, "always",
     "MatrixMultiplySsse3 / MatrixMultiplySse2", Removal::AtShutDown, 0},
    {game::kTransformMultiply, "TransformMultiplySite", SiteKind::Redirection, "always",
     "TransformMultiplySsse3 / TransformMultiplySse2", Removal::AtShutDown, 0},
    {game::kReleaseLoopJump, "ReleaseLoopJump", SiteKind::Jump, "always", "ReleaseLoopStub", Removal::Never,
     game::kReleaseLoopContinue},
    {game::kSlotLookup, "SlotLookupSite", SiteKind::Redirection, "always", "SlotLookupHook",
     Removal::AtShutDown, 0},
    {game::kInsertedSleepJump, "InsertedSleepJump", SiteKind::Jump, "always", "InsertedSleepStub",
     Removal::Never, game::kInsertedSleepContinue},
    {game::kThirdPersonCamera, "ThirdPersonCameraSite", SiteKind::Redirection, "fix3rdPersonCameraScale",
     "ThirdPersonCameraHook", Removal::Never, 0},
    {game::kCameraScaleJump1, "CameraScaleJump1", SiteKind::Jump, "fix3rdPersonCameraScale",
     "CameraScaleStub1", Removal::Never, game::kCameraScaleContinue1},
    {game::kCameraScaleJump2, "CameraScaleJump2", SiteKind::Jump, "fix3rdPersonCameraScale",
     "CameraScaleStub2", Removal::Never, game::kCameraScaleContinue2},
    {game::kFormHeapPassThrough, "FormHeapPassThroughSite", SiteKind::Redirection,
     "RecordFormHeapAllocateFailed", "FormHeapPassThroughHook", Removal::Never, 0},
    {game::kFormHeapAllocate, "FormHeapAllocateSite", SiteKind::Redirection, "RecordFormHeapAllocateFailed",
     "FormHeapAllocateHook", Removal::IfInstalled, 0},
    {game::kFormHeapLargerSpaceJump, "FormHeapLargerSpaceJump", SiteKind::Jump,
     "FormHeapAllocateFromLargerSpace", "FormHeapLargerSpaceStub", Removal::Never,
     game::kFormHeapLargerSpaceContinue},
    {game::kEventWait, "EventWaitSite", SiteKind::Redirection, "FixInfiniteLoad", "EventWaitHook",
     Removal::IfInstalled, 0},
    {game::kTrackedCall, "TrackedCallSite", SiteKind::Redirection, "FixInfiniteLoad", "TrackedCallHook",
     Removal::Never, 0},
    {game::kBoxPlanesTest, "BoxPlanesTestSite", SiteKind::Redirection, "always",
     "BoxPlanesTestSse41 / BoxPlanesTestSse3", Removal::AtShutDown, 0},
    {game::kHavokResourceRelease, "HavokResourceReleaseSite", SiteKind::Redirection,
     "always (doNotReleaseHavokResource selects its behaviour)", "HavokResourceReleaseHook",
     Removal::AtShutDown, 0},
    {game::kHavokResourceLocked2, "HavokResourceLockedSite2", SiteKind::Redirection, "always",
     "HavokResourceLockedHook2", Removal::AtShutDown, 0},
    {game::kHavokResourceLocked1, "HavokResourceLockedSite1", SiteKind::Redirection, "always",
     "HavokResourceLockedHook1", Removal::AtShutDown, 0},
    {game::kHavokHeapAllocate, "HavokHeapAllocateSite", SiteKind::Redirection, "ReplaceDefaultHavokHeap",
     "HavokHeapAllocateHook", Removal::IfInstalled, 0},
    {game::kHavokHeapFree, "HavokHeapFreeSite", SiteKind::Redirection, "ReplaceDefaultHavokHeap",
     "HavokHeapFreeHook", Removal::IfInstalled, 0},
};
