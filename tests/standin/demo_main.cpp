// The stand-in game and host as one program: loads Quelbrand.dll from its
// folder, queries and loads it as the host does, then unloads it.

#include <cstdio>

#include "standin/standin.h"

int main() {
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
  host.Unload();
  return accepted && loaded ? 0 : 1;
}
