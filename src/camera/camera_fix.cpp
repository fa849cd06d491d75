#include "camera/camera_fix.h"

#include "camera/camera_sites.h"
#include "base/jump.h"
#include "base/settings.h"

PatchSite ThirdPersonCameraSite = reinterpret_cast<PatchSite>(game::kThirdPersonCamera);

namespace {

// A node tree deeper or larger than this is taken as damaged rather than
// walked until the game thread's stack runs out, or for ever (a node listed
// twice among its children doubles the work at every level).
constexpr int kMaxNodeDepth = 512;
constexpr int kMaxNodeVisits = 16384;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using CameraRoutine = uint32_t(__thiscall*)(void* camera, uint32_t argument);
using IsNodeFunction = uint32_t(__thiscall*)(const void* object);
using FindByNameFunction = const void*(__thiscall*)(const void* reference, const void* nameField);
#pragma GCC diagnostic pop
using NameTestFunction = uint32_t(__fastcall*)(const void* nameField, const void* reference);

template <typename T>
T Field(const void* object, uint32_t offset) {
  return *reinterpret_cast<const T*>(static_cast<const uint8_t*>(object) + offset);
}

template <typename Function>
Function VirtualSlot(const void* object, uint32_t slot) {
  return reinterpret_cast<Function>(Field<void* const*>(object, 0)[slot]);
}

bool IsNode(const void* object) { return VirtualSlot<IsNodeFunction>(object, kSlotIsNode)(object) != 0; }

void CopyNodeValueAt(const void* node, const void* reference, int depth, int& visitsLeft) {
  if (depth > kMaxNodeDepth || visitsLeft == 0) return;
  --visitsLeft;
  const void* nameField = static_cast<const uint8_t*>(node) + kNodeName;
  if (Field<uint32_t>(node, kNodeName) != 0 &&
      reinterpret_cast<NameTestFunction>(game::kNodeNameTest)(nameField, reference) != 0) {
    const void* match = VirtualSlot<FindByNameFunction>(reference, kSlotFindByName)(reference, nameField);
    if (match != nullptr && IsNode(match)) {
      *reinterpret_cast<uint32_t*>(static_cast<uint8_t*>(const_cast<void*>(node)) + kNodeValue) =
          Field<uint32_t>(match, kNodeValue);
    }
  }
  // The count is read again before each comparison: the game's own count.
  for (uint32_t i = 0; visitsLeft > 0 && i < Field<uint16_t>(node, kNodeChildCount); ++i) {
    const void* child = Field<const void* const*>(node, kNodeChildren)[i];
    if (child != nullptr && IsNode(child)) CopyNodeValueAt(child, reference, depth + 1, visitsLeft);
  }
}

}  // namespace

void CopyNodeValue(const void* node, const void* reference) {
  int visitsLeft = kMaxNodeVisits;
  CopyNodeValueAt(node, reference, 0, visitsLeft);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
uint32_t __thiscall ThirdPersonCameraHook(void* camera, uint32_t argument) {
  const uint32_t result = reinterpret_cast<CameraRoutine>(ThirdPersonCameraSite)(camera, argument);
  const void* singleton = *reinterpret_cast<const void* const*>(game::kSceneSingleton);
  if (singleton == nullptr) return result;
  const void* holder = Field<const void*>(singleton, kSingletonReferenceHolder);
  if (holder == nullptr) return result;
  const void* reference = Field<const void*>(holder, kHolderReference);
  if (reference == nullptr) return result;
  const void* root = Field<const void*>(singleton, kSingletonRootNode);
  if (root == nullptr) return result;
  CopyNodeValue(root, reference);
  return result;
}
#pragma GCC diagnostic pop

void InstallCameraScaleFix() {
  if (!ReadSettingBool("Camera", "fix3rdPersonCameraScale", true, SettingsPath())) return;
  PatchAttach(&ThirdPersonCameraSite, reinterpret_cast<void*>(&ThirdPersonCameraHook));
  WriteRelJump(game::kCameraScaleJump1, reinterpret_cast<const void*>(&CameraScaleStub1));
  WriteRelJump(game::kCameraScaleJump2, reinterpret_cast<const void*>(&CameraScaleStub2));
}
