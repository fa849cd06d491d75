#pragma once

// The "Memory" section's installer, called inside the load transaction: the
// form-heap patches, the infinite-load fix, the Havok heap, then the
// always-on slot lookup and release loop; logs "Memory Hooked". The remover,
// called inside the shut-down transaction, removes the removable sites of
// what was installed.
void InstallMemoryPatches();
void RemoveMemoryPatches();
