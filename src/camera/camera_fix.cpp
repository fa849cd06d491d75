#include "camera/camera_fix.h"

#include "base/feature_status.h"
#include "base/game_access.h"
#include "base/jump.h"
#include "camera/camera_sites.h"

PatchSite ThirdPersonCameraSite = reinterpret_cast<PatchSite>(game::kThirdPersonCamera);

namespace {

// A node tree deeper or larger than this is taken as damaged rather than
// walked until the game thread's stack runs out, or for ever (a node listed
// twice among its children doubles the work at every level). The steps are
// the nodes visited and the child entries read: a damaged count can list
// 65,535 children under every node.
constexpr int kMaxNodeDepth = 512;
constexpr int kMaxWalkSteps = 65536;

using IsNodeFunction = GameThisCall<uint32_t, const void*>;
using FindByNameFunction = GameThisCall<const void*, const void*, const void*>;
using NameTestFunction = GameFastCall<uint32_t, const void*, const void*>;

bool IsNode(const void* object) { return GameVirtual<IsNodeFunction>(object, kSlotIsNode)(object) != 0; }

void CopyNodeValueAt(const void* node, const void* reference, int depth, int& stepsLeft) {
  if (depth > kMaxNodeDepth || stepsLeft == 0) return;
  --stepsLeft;
  const void* nameField = static_cast<const uint8_t*>(node) + kNodeName;
  if (GameField<uint32_t>(node, kNodeName) != 0 &&
      GameRoutine<NameTestFunction>(game::kNodeNameTest)(nameField, reference) != 0) {
    const void* match = GameVirtual<FindByNameFunction>(reference, kSlotFindByName)(reference, nameField);
    if (match != nullptr && IsNode(match))
      GameField<uint32_t>(node, kNodeValue) = GameField<uint32_t>(match, kNodeValue);
  }
  // The count is read again before each comparison: the game's own count.
  for (uint32_t i = 0; stepsLeft > 0 && i < GameField<uint16_t>(node, kNodeChildCount); ++i) {
    --stepsLeft;
    const void* child = GameField<const void* const*>(node, kNodeChildren)[i];
    if (child != nullptr && IsNode(child)) CopyNodeValueAt(child, reference, depth + 1, stepsLeft);
  }
}

}  // namespace

void CopyNodeValue(const void* node, const void* reference) {
  int stepsLeft = kMaxWalkSteps;
  CopyNodeValueAt(node, reference, 0, stepsLeft);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
uint32_t __thiscall ThirdPersonCameraHook(void* camera, uint32_t argument) {
  const uint32_t result = GameRoutine<GameCall1>(ThirdPersonCameraSite)(camera, argument);
  const void* singleton = GameGlobal<const void*>(game::kSceneSingleton);
  if (singleton == nullptr) return result;
  const void* holder = GameField<const void*>(singleton, kSingletonReferenceHolder);
  if (holder == nullptr) return result;
  const void* reference = GameField<const void*>(holder, kHolderReference);
  if (reference == nullptr) return result;
  const void* root = GameField<const void*>(singleton, kSingletonRootNode);
  if (root == nullptr) return result;
  CopyNodeValue(root, reference);
  return result;
}
#pragma GCC diagnostic pop

void InstallCameraScaleFix() {
  if (!ReadFeatureSetting(Feature::Camera, "Camera", "fix3rdPersonCameraScale", true)) return;
  PatchAttach(&ThirdPersonCameraSite, reinterpret_cast<void*>(&ThirdPersonCameraHook));
  WriteRelJump(game::kCameraScaleJump1, reinterpret_cast<const void*>(&CameraScaleStub1));
  WriteRelJump(game::kCameraScaleJump2, reinterpret_cast<const void*>(&CameraScaleStub2));
}

void RemoveCameraScaleFix() {}
