#include "guarded_region.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

GuardedRegion::GuardedRegion() {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  pageSize_ = info.dwPageSize;
  base_ = static_cast<char*>(VirtualAlloc(nullptr, 3 * pageSize_, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
  DWORD old;
  if (base_ == nullptr || !VirtualProtect(base_ + pageSize_, pageSize_, PAGE_READWRITE, &old))
    throw std::runtime_error("cannot set up guard pages");
#else
  pageSize_ = static_cast<size_t>(sysconf(_SC_PAGESIZE));
  void* base = mmap(nullptr, 3 * pageSize_, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) throw std::runtime_error("cannot set up guard pages");
  base_ = static_cast<char*>(base);
  if (mprotect(base_ + pageSize_, pageSize_, PROT_READ | PROT_WRITE) != 0)
    throw std::runtime_error("cannot set up guard pages");
#endif
  page_ = base_ + pageSize_;
}

GuardedRegion::~GuardedRegion() {
#ifdef _WIN32
  VirtualFree(base_, 0, MEM_RELEASE);
#else
  munmap(base_, 3 * pageSize_);
#endif
}
