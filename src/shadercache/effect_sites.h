#pragma once

#include "patching/patching.h"

// The D3DX functions that the shader cache redirects, found by name at
// process attach.
constexpr char kEffectLibrary[] = "D3DX9_43.dll";
constexpr char kCreateEffectName[] = "D3DXCreateEffect";
constexpr char kCreateEffectFromFileAName[] = "D3DXCreateEffectFromFileA";

// Null when the function was not found: then it is neither redirected nor
// detached.
extern PatchSite CreateEffectSite;
extern PatchSite CreateEffectFromFileASite;
