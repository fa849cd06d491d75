#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <vector>

#include "standin/game_camera.h"
#include "standin/standin.h"

namespace {

using standin::GameGlobal;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
using CameraRoutine = uint32_t(__thiscall*)(void* camera, uint32_t argument);
#pragma GCC diagnostic pop

// The object the camera routine works on (ESI inside it).
struct Camera {
  uint8_t head[0x18];
  const void* scaleCarrier;
  uint8_t gap[0x40 - 0x1c];
  float distance;
  float offset[3];
};
static_assert(offsetof(Camera, scaleCarrier) == 0x18 && offsetof(Camera, distance) == 0x40, "layout");

struct ScaleCarrier {
  uint8_t head[0x84];
  float scale;
};

// A camera whose carrier holds `scale`.
struct ScaledCamera {
  ScaleCarrier carrier = {};
  Camera camera = {};
  explicit ScaledCamera(float scale) {
    carrier.scale = scale;
    camera.scaleCarrier = &carrier;
  }
  ScaledCamera(const ScaledCamera&) = delete;
  ScaledCamera& operator=(const ScaledCamera&) = delete;
};

// The routine's redirection and its two jumps.
constexpr uint32_t kCameraPlaces[] = {game::kThirdPersonCamera, game::kCameraScaleJump1,
                                      game::kCameraScaleJump2};

// A game object with a virtual table: slot 3 answers whether it is a node,
// slot 39 (on the reference) finds an object by name.
struct GameObject {
  void* const* vtable;
  uint32_t pad;
  uint32_t name;  // +0x08
  uint8_t gap[0x50 - 0x0c];
  uint32_t value;  // +0x50
  uint8_t gap2[0xac - 0x54];
  GameObject* const* children;  // +0xac
  uint16_t childCount;          // +0xb0
};
static_assert(offsetof(GameObject, value) == 0x50 && offsetof(GameObject, children) == 0xac &&
                  offsetof(GameObject, childCount) == 0xb0,
              "node layout");

std::map<uint32_t, const GameObject*> referenceByName;
std::vector<uint32_t> lookedUpNames;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
uint32_t __thiscall IsNode(const GameObject*) { return 1; }
uint32_t notNodeCalls;
uint32_t __thiscall IsNotNode(const GameObject*) { return ++notNodeCalls, 0; }
const GameObject* __thiscall FindByName(const GameObject*, const uint32_t* nameField) {
  lookedUpNames.push_back(*nameField);
  auto found = referenceByName.find(*nameField);
  return found == referenceByName.end() ? nullptr : found->second;
}
#pragma GCC diagnostic pop

struct VirtualTable {
  void* slots[40] = {};
  VirtualTable(void* isNode, void* findByName) {
    slots[3] = isNode;
    slots[39] = findByName;
  }
};

VirtualTable nodeTable(reinterpret_cast<void*>(&IsNode), reinterpret_cast<void*>(&FindByName));
VirtualTable otherTable(reinterpret_cast<void*>(&IsNotNode), reinterpret_cast<void*>(&FindByName));

GameObject MakeObject(uint32_t name, uint32_t value, bool node = true) {
  GameObject object = {};
  object.vtable = node ? nodeTable.slots : otherTable.slots;
  object.name = name;
  object.value = value;
  return object;
}

// The scene singleton with its reference holder and root node.
struct Scene {
  uint8_t head[0x44];
  const void* holder;
  uint8_t gap[0x58c - 0x48];
  GameObject* root;
};
struct Holder {
  uint8_t head[0x20];
  const GameObject* reference;
};
static_assert(offsetof(Scene, root) == 0x58c && offsetof(Holder, reference) == 0x20, "scene layout");

// A whole scene around a reference object and a root node, published as the
// game's singleton for as long as it lives.
struct SceneWith {
  Holder holder = {};
  Scene scene = {};
  SceneWith(const GameObject& reference, GameObject& root) {
    holder.reference = &reference;
    scene.holder = &holder;
    scene.root = &root;
    GameGlobal<const void*>(game::kSceneSingleton) = &scene;
  }
  ~SceneWith() { GameGlobal<const void*>(game::kSceneSingleton) = nullptr; }
};

// Runs the camera routine; both calls inside it (stubs included) must keep
// the registers and the x87 stack depth the routine relies on.
uint32_t RunCamera(Camera& camera, uint32_t argument) {
  uint32_t result = reinterpret_cast<CameraRoutine>(game::kThirdPersonCamera)(&camera, argument);
  EXPECT_EQ(GameGlobal<uint32_t>(standin::kCameraRegisterFaults), 0u);
  return result;
}

uint8_t FirstByte(uint32_t address) { return GameGlobal<uint8_t>(address); }

class CameraFix : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::PlaceGameCamera();
    GameGlobal<float>(standin::kCameraDistanceValue) = 3.5f;
    float offset[3] = {1.0f, -2.0f, 0.75f};
    std::memcpy(&GameGlobal<float>(standin::kCameraOffsetValues), offset, sizeof offset);
    GameGlobal<const void*>(game::kSceneSingleton) = nullptr;
  }

  void Load(const char* settings = "") {
    standin::WriteSettings(settings);
    ASSERT_TRUE(host_.LoadPlugin());
    ASSERT_TRUE(host_.Query());
    ASSERT_TRUE(host_.Load());
  }

  standin::Host host_;
};

TEST_F(CameraFix, ScalesDistanceAndOffsetByTheCarriersFactor) {
  ScaledCamera scaled(2.5f);
  Camera& camera = scaled.camera;
  ASSERT_EQ(RunCamera(camera, 20), 41u);
  EXPECT_EQ(camera.distance, 3.5f);

  Load();
  for (uint32_t address : kCameraPlaces) EXPECT_EQ(FirstByte(address), 0xE9) << std::hex << address;
  EXPECT_EQ(RunCamera(camera, 20), 41u);
  EXPECT_EQ(camera.distance, 3.5f * 2.5f);
  EXPECT_EQ(camera.offset[0], 1.0f * 2.5f);
  EXPECT_EQ(camera.offset[1], -2.0f * 2.5f);
  EXPECT_EQ(camera.offset[2], 0.75f * 2.5f);
  // The offset is scaled in place, in the game's own record.
  EXPECT_EQ(GameGlobal<float>(standin::kCameraOffsetValues), 2.5f);
}

TEST_F(CameraFix, NoCarrierOrUnitFactorLeavesValuesAsTheGameGaveThem) {
  Load();
  Camera camera = {};
  EXPECT_EQ(RunCamera(camera, 1), 3u);
  EXPECT_EQ(camera.distance, 3.5f);
  EXPECT_EQ(camera.offset[1], -2.0f);

  ScaledCamera unit(1.0f);
  EXPECT_EQ(RunCamera(unit.camera, 1), 3u);
  EXPECT_EQ(unit.camera.distance, 3.5f);
  EXPECT_EQ(unit.camera.offset[0], 1.0f);
  EXPECT_EQ(unit.camera.offset[1], -2.0f);
  EXPECT_EQ(unit.camera.offset[2], 0.75f);
}

TEST_F(CameraFix, CopiesValuesIntoTheNodeTreeByName) {
  GameObject refA = MakeObject(0, 0xA0A0A0A0);
  GameObject refC = MakeObject(0, 0xC0C0C0C0);
  GameObject refNotNode = MakeObject(0, 0xBADBAD, false);
  GameObject referenceObject = MakeObject(0, 0);
  referenceByName = {
      {0x100, &refA}, {0x300, &refC}, {0x400, &refNotNode}, {standin::kNameRefusedByTest, &refA}};

  GameObject unnamed = MakeObject(0, 1);                            // not looked up
  GameObject refused = MakeObject(standin::kNameRefusedByTest, 2);  // fails the name test
  GameObject grandchild = MakeObject(0x300, 3);                     // under refused: still walked
  GameObject notNode = MakeObject(0x100, 4, false);                 // skipped entirely
  GameObject answerNotNode = MakeObject(0x400, 5);                  // the reference's answer is no node
  GameObject noMatch = MakeObject(0x999, 6);                        // nothing of that name
  GameObject root = MakeObject(0x100, 7);
  GameObject* refusedChildren[] = {&grandchild};
  refused.children = refusedChildren;
  refused.childCount = 1;
  GameObject* notNodeChildren[] = {&root};
  notNode.children = notNodeChildren;
  notNode.childCount = 1;
  GameObject* rootChildren[] = {&unnamed, nullptr, &refused, &notNode, &answerNotNode, &noMatch};
  root.children = rootChildren;
  root.childCount = 6;

  SceneWith scene(referenceObject, root);

  Load();
  lookedUpNames.clear();
  Camera camera = {};
  EXPECT_EQ(RunCamera(camera, 5), 11u);

  EXPECT_EQ(root.value, 0xA0A0A0A0u);
  EXPECT_EQ(unnamed.value, 1u);
  EXPECT_EQ(refused.value, 2u);
  EXPECT_EQ(grandchild.value, 0xC0C0C0C0u);
  EXPECT_EQ(notNode.value, 4u);
  EXPECT_EQ(answerNotNode.value, 5u);
  EXPECT_EQ(noMatch.value, 6u);
  // Depth first, each node before its children, children in order.
  EXPECT_EQ(lookedUpNames, (std::vector<uint32_t>{0x100, 0x300, 0x400, 0x999}));
  EXPECT_EQ(GameGlobal<const void*>(standin::kNameTestReference), &referenceObject);
}

TEST_F(CameraFix, MissingSceneObjectsChangeNothing) {
  GameObject referenceObject = MakeObject(0, 0);
  GameObject match = MakeObject(0, 0x12345678);
  referenceByName = {{0x100, &match}};
  GameObject root = MakeObject(0x100, 7);
  Holder holder = {};
  Scene scene = {};
  GameGlobal<const void*>(game::kSceneSingleton) = nullptr;
  Load();
  Camera camera = {};
  EXPECT_EQ(RunCamera(camera, 2), 5u);

  GameGlobal<const void*>(game::kSceneSingleton) = &scene;  // no holder, no root
  EXPECT_EQ(RunCamera(camera, 2), 5u);
  scene.holder = &holder;  // holder without a reference
  scene.root = &root;
  EXPECT_EQ(RunCamera(camera, 2), 5u);
  holder.reference = &referenceObject;
  scene.root = nullptr;
  EXPECT_EQ(RunCamera(camera, 2), 5u);
  EXPECT_EQ(root.value, 7u);

  scene.root = &root;
  EXPECT_EQ(RunCamera(camera, 2), 5u);
  EXPECT_EQ(root.value, 0x12345678u);
}

TEST_F(CameraFix, NullOffsetFromTheGameIsPassedThrough) {
  Load();
  GameGlobal<const void*>(standin::kCameraOffsetPointer) = nullptr;
  ScaledCamera scaled(2.0f);
  EXPECT_EQ(RunCamera(scaled.camera, 4), 9u);
  EXPECT_EQ(scaled.camera.distance, 7.0f);
  EXPECT_EQ(scaled.camera.offset[0], 0.0f);
}

TEST_F(CameraFix, DeepTreesGetEveryLevelAndSelfListingNodesEndPromptly) {
  constexpr int kLevels = 10;
  GameObject referenceObject = MakeObject(0, 0);
  GameObject matches[kLevels];
  GameObject chain[kLevels];
  GameObject* childOf[kLevels];
  referenceByName.clear();
  for (int i = 0; i < kLevels; ++i) {
    matches[i] = MakeObject(0, 0x1000 + i);
    referenceByName[0x100 + i] = &matches[i];
    chain[i] = MakeObject(0x100 + i, i);
    childOf[i] = &chain[i];
    if (i > 0) {
      chain[i - 1].children = &childOf[i];
      chain[i - 1].childCount = 1;
    }
  }
  SceneWith scene(referenceObject, chain[0]);
  Load();
  Camera camera = {};
  EXPECT_EQ(RunCamera(camera, 0), 1u);
  for (int i = 0; i < kLevels; ++i) EXPECT_EQ(chain[i].value, 0x1000u + i) << "level " << i;

  // The root listed twice among its own children: every level doubles the
  // work, so only a bound on the visits ends the walk.
  GameObject* twice[] = {&chain[0], &chain[0]};
  chain[0].children = twice;
  chain[0].childCount = 2;
  chain[0].value = 0;
  EXPECT_EQ(RunCamera(camera, 0), 1u);
  EXPECT_EQ(chain[0].value, 0x1000u);
}

TEST_F(CameraFix, DamagedChildCountsCostABoundedNumberOfReads) {
  GameObject reference = MakeObject(0, 0), root = MakeObject(0x100, 0), leaf = MakeObject(0, 0, false);
  std::vector<GameObject*> children(0xFFFF, &leaf);  // the root twice, then no nodes
  children[0] = children[1] = &root;
  root.children = children.data();
  root.childCount = 0xFFFF;
  SceneWith scene(reference, root);
  Load();
  Camera camera = {};
  RunCamera(camera, 0);
  EXPECT_TRUE(notNodeCalls > 0 && notNodeCalls <= 0x10000) << notNodeCalls;
}

TEST_F(CameraFix, SettingOffLeavesTheRoutineUntouched) {
  uint8_t before[3];
  for (int i = 0; i < 3; ++i) before[i] = FirstByte(kCameraPlaces[i]);
  Load("[Camera]\nfix3rdPersonCameraScale=false\n");
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(FirstByte(kCameraPlaces[i]), before[i]) << std::hex << kCameraPlaces[i];
  ScaledCamera scaled(4.0f);
  EXPECT_EQ(RunCamera(scaled.camera, 3), 7u);
  EXPECT_EQ(scaled.camera.distance, 3.5f);
}

TEST_F(CameraFix, StaysInPlaceAfterShutDown) {
  Load();
  host_.Unload();
  for (uint32_t address : kCameraPlaces) EXPECT_EQ(FirstByte(address), 0xE9) << std::hex << address;
}

}  // namespace
