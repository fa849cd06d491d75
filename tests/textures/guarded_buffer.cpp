#include "guarded_buffer.h"

#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/mman.h>
#include <unistd.h>
#endif

GuardedBuffer::GuardedBuffer(size_t size) : size_(size) {
#ifdef _WIN32
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
#else
  const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
#endif
  const size_t usable = (size + page - 1) / page * page;
  mapped_ = usable + page;
#ifdef _WIN32
  base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, mapped_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD old;
  if (base_ == nullptr || !VirtualProtect(base_ + usable, page, PAGE_NOACCESS, &old))
    throw std::runtime_error("cannot set up a guard page");
#else
  void* base = mmap(nullptr, mapped_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (base == MAP_FAILED) throw std::runtime_error("cannot set up a guard page");
  base_ = static_cast<uint8_t*>(base);
  if (mprotect(base_ + usable, page, PROT_NONE) != 0) throw std::runtime_error("cannot set up a guard page");
#endif
  data_ = base_ + usable - size;
}

GuardedBuffer::~GuardedBuffer() {
#ifdef _WIN32
  VirtualFree(base_, 0, MEM_RELEASE);
#else
  munmap(base_, mapped_);
#endif
}
