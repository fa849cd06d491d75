#pragma once

#include <cstdint>

// Queues the camera routine's redirection and writes the two scaling jumps
// when "fix3rdPersonCameraScale" is on. The remover removes nothing: the
// redirection and the jumps stay for the life of the process.
void InstallCameraScaleFix();
void RemoveCameraScaleFix();

// Copies the value at +0x50 from the reference's node of the same name into
// `node`, then into its children, depth first.
void CopyNodeValue(const void* node, const void* reference);

// The camera routine's replacement: the game's member-function convention.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
uint32_t __thiscall ThirdPersonCameraHook(void* camera, uint32_t argument);
#pragma GCC diagnostic pop

// Reached only by the jump writes inside the camera routine.
extern "C" void CameraScaleStub1();
extern "C" void CameraScaleStub2();
