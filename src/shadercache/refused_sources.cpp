#include "shadercache/refused_sources.h"

#include <windows.h>

#include <set>

namespace {

SRWLOCK refusedLock = SRWLOCK_INIT;

std::set<std::wstring>& RefusedNames() {
  static std::set<std::wstring> names;
  return names;
}

}  // namespace

bool IsRefusedSource(const std::wstring& name) {
  AcquireSRWLockShared(&refusedLock);
  const bool refused = RefusedNames().count(name) != 0;
  ReleaseSRWLockShared(&refusedLock);
  return refused;
}

void RememberRefusedSource(const std::wstring& name) {
  AcquireSRWLockExclusive(&refusedLock);
  try {
    RefusedNames().insert(name);
  } catch (...) {
    // Out of memory: the source is only tried again next time.
  }
  ReleaseSRWLockExclusive(&refusedLock);
}
