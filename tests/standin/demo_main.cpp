// The stand-in game and host as one program: places the game's routines at
// their addresses, loads Quelbrand.dll from its folder, queries and loads it
// as the host does, reports what the plug-in changed in the game, then
// unloads it and reports what was put back.

#include <cstdio>
#include <cstring>
#include <vector>

#include "plugin/patch_sites.h"
#include "standin/game_math.h"
#include "standin/standin.h"

namespace {

constexpr size_t kJumpLength = 5;

struct Snapshot {
  uint8_t bytes[kJumpLength];
};

const uint8_t* GameBytes(uintptr_t address) { return reinterpret_cast<const uint8_t*>(address); }

std::vector<Snapshot> TakeSnapshot() {
  std::vector<Snapshot> snapshot;
  for (const GamePlace& place : kGamePlaces) {
    Snapshot s = {};
    if (place.address != 0) std::memcpy(s.bytes, GameBytes(place.address), kJumpLength);
    snapshot.push_back(s);
  }
  return snapshot;
}

void ReportChanges(HMODULE plugin, const std::vector<Snapshot>& before) {
  auto base = reinterpret_cast<uintptr_t>(plugin);
  for (size_t i = 0; i < before.size(); ++i) {
    const GamePlace& place = kGamePlaces[i];
    if (place.address == 0) continue;  // a library function found at run time
    const uint8_t* now = GameBytes(place.address);
    const char* kind = place.kind == PlaceKind::Redirection ? "redirected" : "jumped";
    if (std::memcmp(now, before[i].bytes, kJumpLength) == 0) {
      std::printf("  %08X %-34s unchanged\n", static_cast<unsigned>(place.address), place.name);
    } else if (now[0] == 0xE9) {
      int32_t displacement;
      std::memcpy(&displacement, now + 1, 4);
      uintptr_t to = place.address + kJumpLength + static_cast<uintptr_t>(displacement);
      std::printf("  %08X %-34s %s to Quelbrand.dll+0x%X\n", static_cast<unsigned>(place.address), place.name,
                  kind, static_cast<unsigned>(to - base));
    } else {
      std::printf("  %08X %-34s changed: %02X %02X %02X %02X %02X\n", static_cast<unsigned>(place.address),
                  place.name, now[0], now[1], now[2], now[3], now[4]);
    }
  }
}

void ReportRestored(const std::vector<Snapshot>& before) {
  for (size_t i = 0; i < before.size(); ++i) {
    const GamePlace& place = kGamePlaces[i];
    if (place.address == 0) continue;
    bool same = std::memcmp(GameBytes(place.address), before[i].bytes, kJumpLength) == 0;
    std::printf("  %08X %-34s %s\n", static_cast<unsigned>(place.address), place.name,
                same ? "as before" : "still changed");
  }
}

}  // namespace

int main() {
  standin::PlaceGameMath();
  std::vector<Snapshot> before = TakeSnapshot();

  standin::Host host;
  if (!host.LoadPlugin()) {
    std::printf("standin: cannot load %s\\Quelbrand.dll (error %lu)\n", standin::GameFolder().c_str(),
                GetLastError());
    return 1;
  }
  bool accepted = host.Query();
  bool loaded = host.Load();
  std::printf("standin: SKSEPlugin_Query returned %s, SKSEPlugin_Load returned %s\n",
              accepted ? "true" : "false", loaded ? "true" : "false");
  std::printf("standin: the game after SKSEPlugin_Load (Quelbrand.dll at %p):\n",
              static_cast<void*>(host.module()));
  ReportChanges(host.module(), before);

  host.Unload();
  std::printf("standin: the game after the plug-in was unloaded:\n");
  ReportRestored(before);
  return accepted && loaded ? 0 : 1;
}
