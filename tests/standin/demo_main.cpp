// The stand-in game and host as one program: sites the game's routines at
// their addresses, loads Quelbrand.dll from its folder, queries and loads it
// as the host does, reports what the plug-in changed in the game, then
// unloads it and reports what was put back.

#include <cstdio>
#include <vector>

#include "standin/changed_sites.h"
#include "standin/game_camera.h"
#include "standin/game_math.h"
#include "standin/game_memory.h"
#include "standin/standin.h"

namespace {

using standin::BytesAt;
using standin::PlaceAddress;
using standin::PlaceBytes;

std::vector<PlaceBytes> TakeSnapshot() {
  std::vector<PlaceBytes> snapshot;
  for (const GameSite& site : kGameSites) {
    const uintptr_t address = PlaceAddress(site);
    snapshot.push_back(address != 0 ? BytesAt(address) : PlaceBytes{});
  }
  return snapshot;
}

void ReportChanges(HMODULE plugin, const std::vector<PlaceBytes>& before) {
  auto base = reinterpret_cast<uintptr_t>(plugin);
  for (size_t i = 0; i < before.size(); ++i) {
    const GameSite& site = kGameSites[i];
    const uintptr_t address = PlaceAddress(site);
    if (address == 0) continue;
    const PlaceBytes now = BytesAt(address);
    const char* kind = site.kind == SiteKind::Jump ? "jumped" : "redirected";
    if (now == before[i]) {
      std::printf("  %08X %-34s unchanged\n", static_cast<unsigned>(address), site.name);
    } else if (now[0] == 0xE9) {
      const uintptr_t to = standin::JumpTarget(address);
      std::printf("  %08X %-34s %s to Quelbrand.dll+0x%X\n", static_cast<unsigned>(address), site.name, kind,
                  static_cast<unsigned>(to - base));
    } else {
      std::printf("  %08X %-34s changed: %02X %02X %02X %02X %02X\n", static_cast<unsigned>(address),
                  site.name, now[0], now[1], now[2], now[3], now[4]);
    }
  }
}

void ReportRestored(const std::vector<PlaceBytes>& before) {
  for (size_t i = 0; i < before.size(); ++i) {
    const GameSite& site = kGameSites[i];
    const uintptr_t address = PlaceAddress(site);
    if (address == 0) continue;
    const char* state = BytesAt(address) == before[i]    ? "as before"
                        : site.removal == Removal::Never ? "kept (never removed)"
                                                         : "STILL CHANGED";
    std::printf("  %08X %-34s %s\n", static_cast<unsigned>(address), site.name, state);
  }
}

}  // namespace

int main() {
  standin::PlaceGameMath();
  standin::PlaceGameCamera();
  standin::PlaceGameMemory();
  std::vector<PlaceBytes> before = TakeSnapshot();

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
