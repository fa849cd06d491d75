#pragma once

// A PE image laid out by hand in fresh memory, to try the module and payload
// lookups on headers of any shape: the headers fill the first page, a
// ".detour" section the next one, and the page after the section is
// PAGE_NOACCESS, so any read past the section faults.

#include <windows.h>

#include <cstring>
#include <stdexcept>

#include "patching/payload.h"

class FakeImage {
 public:
  static constexpr DWORD kPage = 0x1000;
  static constexpr DWORD kSectionOffset = kPage;
  static constexpr DWORD kSectionSize = kPage;
  static constexpr DWORD kMappedSize = kSectionOffset + kSectionSize;

  FakeImage() {
    base_ = static_cast<BYTE*>(
        VirtualAlloc(nullptr, kMappedSize + kPage, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    if (base_ == nullptr) throw std::runtime_error("VirtualAlloc failed");
    Protect(kMappedSize, kPage, PAGE_NOACCESS);

    dos().e_magic = IMAGE_DOS_SIGNATURE;
    dos().e_lfanew = sizeof(IMAGE_DOS_HEADER);
    nt().Signature = IMAGE_NT_SIGNATURE;
    nt().FileHeader.Machine = IMAGE_FILE_MACHINE_I386;
    nt().FileHeader.NumberOfSections = 1;
    nt().FileHeader.SizeOfOptionalHeader = sizeof(IMAGE_OPTIONAL_HEADER32);
    nt().OptionalHeader.Magic = IMAGE_NT_OPTIONAL_HDR32_MAGIC;
    nt().OptionalHeader.SizeOfImage = kMappedSize;
    std::memcpy(section().Name, kPayloadSectionName, sizeof section().Name);
    section().VirtualAddress = kSectionOffset;
    section().Misc.VirtualSize = kSectionSize;
    section().SizeOfRawData = kSectionSize;
    WriteHeader(0, kPayloadHeaderMinSize);
  }
  ~FakeImage() { VirtualFree(base_, 0, MEM_RELEASE); }
  FakeImage(const FakeImage&) = delete;
  FakeImage& operator=(const FakeImage&) = delete;

  HMODULE module() const { return reinterpret_cast<HMODULE>(base_); }
  BYTE* base() const { return base_; }
  IMAGE_DOS_HEADER& dos() { return *reinterpret_cast<IMAGE_DOS_HEADER*>(base_); }
  IMAGE_NT_HEADERS32& nt() {
    return *reinterpret_cast<IMAGE_NT_HEADERS32*>(base_ + sizeof(IMAGE_DOS_HEADER));
  }
  IMAGE_SECTION_HEADER& section() { return *IMAGE_FIRST_SECTION(&nt()); }
  BYTE* sectionData() { return base_ + kSectionOffset; }
  PayloadSectionHeader& payloadHeader() { return *reinterpret_cast<PayloadSectionHeader*>(sectionData()); }

  void WriteHeader(DWORD dataOffset, DWORD dataEnd, DWORD headerSize = kPayloadHeaderMinSize) {
    payloadHeader() = {headerSize, kPayloadSignature, dataOffset, dataEnd};
  }
  // A record at `offset` from the section start; returns its data.
  BYTE* WriteRecord(DWORD offset, DWORD size, const GUID& id) {
    PayloadRecordHead head = {size, 0, id};
    std::memcpy(sectionData() + offset, &head, sizeof head);
    return sectionData() + offset + sizeof head;
  }
  void Protect(DWORD offset, DWORD size, DWORD protection) {
    DWORD previous;
    if (!VirtualProtect(base_ + offset, size, protection, &previous))
      throw std::runtime_error("VirtualProtect failed");
  }

 private:
  BYTE* base_;
};
