#include "memory/havok_resources.h"

#include <string>
#include <unordered_map>

#include "base/feature_status.h"
#include "base/game_access.h"
#include "base/init_order.h"
#include "base/settings.h"
#include "memory/recursive_spin_lock.h"

PatchSite HavokResourceLockedSite1 = reinterpret_cast<PatchSite>(game::kHavokResourceLocked1);
PatchSite HavokResourceLockedSite2 = reinterpret_cast<PatchSite>(game::kHavokResourceLocked2);
PatchSite HavokResourceReleaseSite = reinterpret_cast<PatchSite>(game::kHavokResourceRelease);

namespace {

bool doNotReleaseHavokResource;

// For every name, the resource of that name released last; its game release
// waits for the next release of the same name.
std::unordered_map<std::string, void*> RetainedResourceTable
    __attribute__((init_priority(kInitRetainedResources)));
RecursiveSpinLock tableLock;
RecursiveSpinLock lockedLock1;
RecursiveSpinLock lockedLock2;

void GameRelease(void* resource, uint32_t argument) {
  GameRoutine<GameCall1>(HavokResourceReleaseSite)(resource, argument);
}

// The resource's name, or null when a link on the way to it is null.
const char* ResourceName(void* resource) {
  void* const* holder = GameField<void* const*>(resource, kResourceNamingField);
  void* naming = holder != nullptr ? *holder : nullptr;
  if (naming == nullptr) return nullptr;
  auto name = GameVirtual<GameCall0>(naming, kNameFunctionSlot)(naming);
  return reinterpret_cast<const char*>(static_cast<uintptr_t>(name));
}

// Swaps `resource` into the entry of `name`. Gives the resource it displaces
// (null if none); false if the table cannot take it.
bool Retain(const char* name, void* resource, void*& displaced) {
  try {
    auto [entry, inserted] = RetainedResourceTable.try_emplace(name, resource);
    displaced = inserted ? nullptr : entry->second;
    entry->second = resource;
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace

void InstallHavokResourceRetention() {
  doNotReleaseHavokResource = ReadSettingBool("Memory", "doNotReleaseHavokResource", false, SettingsPath());
  SetFeatureState(Feature::HavokResources, FeatureState::Queued,
                  doNotReleaseHavokResource ? "release suppressed" : "release deferred");
  PatchAttach(&HavokResourceLockedSite1, reinterpret_cast<void*>(HavokResourceLockedHook1));
  PatchAttach(&HavokResourceLockedSite2, reinterpret_cast<void*>(HavokResourceLockedHook2));
  PatchAttach(&HavokResourceReleaseSite, reinterpret_cast<void*>(HavokResourceReleaseHook));
}

void RemoveHavokResourceRetention() {
  PatchDetach(&HavokResourceLockedSite1, reinterpret_cast<void*>(HavokResourceLockedHook1));
  PatchDetach(&HavokResourceLockedSite2, reinterpret_cast<void*>(HavokResourceLockedHook2));
  PatchDetach(&HavokResourceReleaseSite, reinterpret_cast<void*>(HavokResourceReleaseHook));
}

extern "C" uint32_t CallLockedRoutine1(void* object) {
  EnterRecursiveSpinLock(lockedLock1);
  const uint32_t result = GameRoutine<GameCall0>(HavokResourceLockedSite1)(object);
  LeaveRecursiveSpinLock(lockedLock1);
  return result;
}

extern "C" void CallLockedRoutine2(void* object, uint32_t scale, uint32_t a, uint32_t b, uint32_t c) {
  EnterRecursiveSpinLock(lockedLock2);
  GameRoutine<GameCall4>(HavokResourceLockedSite2)(object, scale, a, b, c);
  LeaveRecursiveSpinLock(lockedLock2);
}

extern "C" void ReleaseHavokResource(void* resource, uint32_t argument) {
  if (doNotReleaseHavokResource) return;
  const char* name =
      GameField<uint32_t>(resource, kResourceRetainField) != 0 ? ResourceName(resource) : nullptr;
  if (name == nullptr) {
    GameRelease(resource, argument);
    return;
  }
  EnterRecursiveSpinLock(tableLock);
  void* displaced = nullptr;
  // A resource the table cannot take is released at once rather than lost.
  if (!Retain(name, resource, displaced)) displaced = resource;
  LeaveRecursiveSpinLock(tableLock);
  // The game's release may take game locks that a thread waiting for the
  // table holds, so it runs outside the table's lock; the entry already
  // holds its new resource.
  if (displaced != nullptr) GameRelease(displaced, argument);
}
