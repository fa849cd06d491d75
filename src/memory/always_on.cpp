#include "memory/always_on.h"

#include "base/game_access.h"

PatchSite SlotLookupSite = reinterpret_cast<PatchSite>(game::kSlotLookup);

namespace {

// One 32-bit game object, built by the game from the empty string the first
// time an index is out of range and handed to every such lookup from then on.
struct SharedEmptyObject {
  uint32_t value = 0;

  SharedEmptyObject() {
    static const char empty[] = "";
    GameRoutine<GameCall1>(game::kEmptyObjectConstruct)(
        this, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(empty)));
  }
  ~SharedEmptyObject() {
    if (value != 0) GameRoutine<GameCall0>(game::kEmptyObjectDestroy)(this);
  }
};

uint32_t* SharedEmptySlot() {
  static SharedEmptyObject object;
  return &object.value;
}

}  // namespace

extern "C" uint32_t* LookUpSlot(void* object, uint32_t index) {
  if (index < kSlotCount) return &GameField<uint32_t>(object, kSlotsField + 4 * index);
  return SharedEmptySlot();
}
