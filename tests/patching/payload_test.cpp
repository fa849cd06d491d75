#include "patching/payload.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "fake_image.h"
#include "test_payloads.h"

namespace {

constexpr GUID kFakeRecordId = {0x0C1A55E5, 0x7E57, 0x4D00, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kOtherRecordId = {0x0C1A55E6, 0x7E57, 0x4D00, {1, 2, 3, 4, 5, 6, 7, 8}};
constexpr GUID kFillerRecordId = {0x0C1A55E7, 0x7E57, 0x4D00, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(PayloadSection, ExecutableSectionIsFoundAndItsDataOffsetFilledIn) {
  ASSERT_EQ(test_payload_header.dataOffset, 0u);
  SetLastError(ERROR_GEN_FAILURE);
  PayloadSectionHeader* header = PatchFindPayloadSection(nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(header, &test_payload_header);
  EXPECT_EQ(test_payload_header.dataOffset, test_payload_header.headerSize);
  EXPECT_EQ(PatchFindPayloadSection(GetModuleHandleW(nullptr)), &test_payload_header);
}

TEST(Payload, RecordsAreFoundByTheirIdentifier) {
  DWORD size = 99;
  SetLastError(ERROR_GEN_FAILURE);
  void* text = PatchFindPayload(nullptr, kTextRecordId, &size);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(NO_ERROR));
  EXPECT_EQ(text, test_record_text + kRecordHeadSize);
  ASSERT_EQ(size, sizeof kTextRecordData - 1);
  EXPECT_EQ(std::memcmp(text, kTextRecordData, size), 0);

  size = 99;
  EXPECT_EQ(PatchFindPayload(nullptr, kEmptyRecordId, &size), test_record_empty + kRecordHeadSize);
  EXPECT_EQ(size, 0u);

  EXPECT_EQ(PatchFindPayload(GetModuleHandleW(nullptr), kTextRecordId, nullptr), text);
}

TEST(Payload, EveryIdentifierFieldTakesPartInTheMatch) {
  GUID nearby[4] = {kTextRecordId, kTextRecordId, kTextRecordId, kTextRecordId};
  nearby[0].Data1 ^= 0x80000000u;
  nearby[1].Data2 ^= 1;
  nearby[2].Data3 ^= 0x100;
  nearby[3].Data4[7] ^= 1;
  for (const GUID& id : nearby) {
    DWORD size = 99;
    SetLastError(NO_ERROR);
    EXPECT_EQ(PatchFindPayload(nullptr, id, &size), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_EQ(size, 0u);
  }
}

TEST(Payload, AnywhereSearchesEveryModule) {
  FakeImage image;
  BYTE* fakeData = image.WriteRecord(kPayloadHeaderMinSize, kRecordHeadSize + 4, kFakeRecordId);
  image.payloadHeader().dataEnd = kPayloadHeaderMinSize + kRecordHeadSize + 4;

  DWORD size = 0;
  EXPECT_EQ(PatchFindPayloadAnywhere(kTextRecordId, &size), test_record_text + kRecordHeadSize);
  EXPECT_EQ(size, sizeof kTextRecordData - 1);
  EXPECT_EQ(PatchFindPayloadAnywhere(kFakeRecordId, &size), fakeData);
  EXPECT_EQ(size, 4u);

  size = 99;
  SetLastError(NO_ERROR);
  EXPECT_EQ(PatchFindPayloadAnywhere(kOtherRecordId, &size), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(size, 0u);
}

TEST(PayloadSection, ModulesWithoutASoundSectionSayWhy) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  SetLastError(NO_ERROR);
  EXPECT_EQ(PatchFindPayloadSection(kernel32), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_EXE_MARKED_INVALID));
  DWORD size = 99;
  SetLastError(NO_ERROR);
  EXPECT_EQ(PatchFindPayload(kernel32, kTextRecordId, &size), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_EXE_MARKED_INVALID));
  EXPECT_EQ(size, 0u);

  struct Case {
    const char* what;
    std::function<void(FakeImage&)> spoil;
    DWORD error;
  };
  const Case cases[] = {
      {"sound", [](FakeImage&) {}, NO_ERROR},
      {"no MZ", [](FakeImage& f) { f.dos().e_magic = 0x4D5A; }, ERROR_BAD_EXE_FORMAT},
      {"no PE", [](FakeImage& f) { f.nt().Signature = 0x50450000; }, ERROR_INVALID_EXE_SIGNATURE},
      {"NT headers unreadable", [](FakeImage& f) { f.dos().e_lfanew = FakeImage::kMappedSize + 0x10; },
       ERROR_EXE_MARKED_INVALID},
      {"no optional header", [](FakeImage& f) { f.nt().FileHeader.SizeOfOptionalHeader = 0; },
       ERROR_EXE_MARKED_INVALID},
      {"other name", [](FakeImage& f) { std::memcpy(f.section().Name, ".detours", 8); },
       ERROR_EXE_MARKED_INVALID},
      {"section table unreadable",
       [](FakeImage& f) {
         f.section().Name[0] = 'x';
         f.nt().FileHeader.NumberOfSections = 0xFFFF;
       },
       ERROR_EXE_MARKED_INVALID},
      {"no address", [](FakeImage& f) { f.section().VirtualAddress = 0; }, ERROR_EXE_MARKED_INVALID},
      {"no raw size", [](FakeImage& f) { f.section().SizeOfRawData = 0; }, ERROR_EXE_MARKED_INVALID},
      {"section longer than mapped",
       [](FakeImage& f) { f.section().Misc.VirtualSize = FakeImage::kSectionSize + 1; },
       ERROR_EXE_MARKED_INVALID},
      {"header size 63", [](FakeImage& f) { f.payloadHeader().headerSize = 63; }, ERROR_EXE_MARKED_INVALID},
      {"header longer than the section",
       [](FakeImage& f) { f.payloadHeader().headerSize = FakeImage::kSectionSize + 1; },
       ERROR_EXE_MARKED_INVALID},
      {"wrong signature", [](FakeImage& f) { f.payloadHeader().signature = 0x00727445; },
       ERROR_EXE_MARKED_INVALID},
  };
  for (const Case& c : cases) {
    FakeImage image;
    c.spoil(image);
    SetLastError(ERROR_GEN_FAILURE);
    PayloadSectionHeader* header = PatchFindPayloadSection(image.module());
    EXPECT_EQ(GetLastError(), c.error) << c.what;
    EXPECT_EQ(header, c.error == NO_ERROR ? &image.payloadHeader() : nullptr) << c.what;
  }
  // The section may be the first of a table that runs off into nothing.
  FakeImage image;
  image.nt().FileHeader.NumberOfSections = 0xFFFF;
  EXPECT_EQ(PatchFindPayloadSection(image.module()), &image.payloadHeader());
}

// Runs `work` on a thread of its own; false when it is still running after
// `milliseconds` (the thread is then ended).
bool FinishesWithin(DWORD milliseconds, std::function<void()> work) {
  struct Start {
    static DWORD WINAPI Run(void* work) {
      (*static_cast<std::function<void()>*>(work))();
      return 0;
    }
  };
  HANDLE thread = CreateThread(nullptr, 0, Start::Run, &work, 0, nullptr);
  if (thread == nullptr) return false;
  const bool finished = WaitForSingleObject(thread, milliseconds) == WAIT_OBJECT_0;
  if (!finished) {
    TerminateThread(thread, 1);
    WaitForSingleObject(thread, INFINITE);
  }
  CloseHandle(thread);
  return finished;
}

struct Lookup {
  void* data;
  DWORD size;
  DWORD error;
};

// PatchFindPayload on a thread of its own, so that a walk that never ends
// fails the test instead of hanging it.
Lookup Find(FakeImage& image, const GUID& id) {
  Lookup result = {nullptr, 99, 0};
  const bool finished = FinishesWithin(5000, [&] {
    result.data = PatchFindPayload(image.module(), id, &result.size);
    result.error = GetLastError();
  });
  EXPECT_TRUE(finished) << "the record walk did not end";
  return result;
}

constexpr DWORD kFirst = kPayloadHeaderMinSize;
constexpr DWORD kSection = FakeImage::kSectionSize;

TEST(Payload, MalformedRecordsNeverLeadOutOfTheSection) {
  struct Case {
    const char* what;
    std::function<void(FakeImage&)> build;
    bool fakeRecordFound;
  };
  const Case cases[] = {
      {"data end beyond the section: the records inside still count",
       [](FakeImage& f) {
         f.WriteHeader(kFirst, 0x100000);
         f.WriteRecord(kFirst, kSection - kFirst, kFakeRecordId);
       },
       true},
      {"record of size 0",
       [](FakeImage& f) {
         f.WriteHeader(kFirst, kSection);
         f.WriteRecord(kFirst, 0, kOtherRecordId);
         f.WriteRecord(kFirst + kRecordHeadSize, kRecordHeadSize, kFakeRecordId);
       },
       false},
      {"record shorter than its head",
       [](FakeImage& f) {
         f.WriteHeader(kFirst, kSection);
         f.WriteRecord(kFirst, kRecordHeadSize - 1, kFakeRecordId);
       },
       false},
      {"record running past the section",
       [](FakeImage& f) {
         f.WriteHeader(kFirst, 0x100000);
         f.WriteRecord(kFirst, kSection - kFirst + 1, kFakeRecordId);
       },
       false},
      {"record running past the data end",
       [](FakeImage& f) {
         f.WriteHeader(kFirst, kFirst + 100);
         f.WriteRecord(kFirst, 101, kFakeRecordId);
       },
       false},
      {"last head straddling the section end",
       [](FakeImage& f) {
         f.WriteHeader(kFirst, 0x100000);
         f.WriteRecord(kFirst, kSection - kFirst - 8, kFillerRecordId);
         // Only 8 bytes of the next head are inside; the rest would be past the end.
         std::memcpy(f.sectionData() + kSection - 8, "\x18\0\0\0\0\0\0\0", 8);
       },
       false},
      {"data offset beyond the data end",
       [](FakeImage& f) {
         f.WriteHeader(kFirst + kRecordHeadSize, kFirst);
         f.WriteRecord(kFirst + kRecordHeadSize, kRecordHeadSize, kFakeRecordId);
       },
       false},
      {"data offset beyond the section", [](FakeImage& f) { f.WriteHeader(kSection + 16, 0xFFFFFFFF); },
       false},
  };
  for (const Case& c : cases) {
    FakeImage image;
    c.build(image);
    Lookup result = Find(image, kFakeRecordId);
    if (c.fakeRecordFound) {
      EXPECT_EQ(result.data, image.sectionData() + kFirst + kRecordHeadSize) << c.what;
      EXPECT_EQ(result.size, kSection - kFirst - kRecordHeadSize) << c.what;
      EXPECT_EQ(result.error, static_cast<DWORD>(NO_ERROR)) << c.what;
    } else {
      EXPECT_EQ(result.data, nullptr) << c.what;
      EXPECT_EQ(result.size, 0u) << c.what;
      EXPECT_EQ(result.error, static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.what;
    }
    EXPECT_EQ(Find(image, kOtherRecordId).data, nullptr) << c.what;
  }
}

TEST(Payload, ReadOnlySectionWithDataOffsetZeroIsStillSearched) {
  FakeImage image;
  image.WriteHeader(0, kFirst + kRecordHeadSize);
  BYTE* data = image.WriteRecord(kFirst, kRecordHeadSize, kFakeRecordId);
  image.Protect(FakeImage::kSectionOffset, kSection, PAGE_READONLY);

  EXPECT_EQ(PatchFindPayloadSection(image.module()), &image.payloadHeader());
  EXPECT_EQ(image.payloadHeader().dataOffset, 0u);
  Lookup found = Find(image, kFakeRecordId);
  EXPECT_EQ(found.data, data);
  EXPECT_EQ(found.size, 0u);
}

TEST(Payload, WritableSectionWithDataOffsetZeroGetsTheHeaderSize) {
  FakeImage image;
  image.WriteHeader(0, 96 + kRecordHeadSize, 96);
  BYTE* data = image.WriteRecord(96, kRecordHeadSize, kFakeRecordId);
  EXPECT_EQ(Find(image, kFakeRecordId).data, data);
  EXPECT_EQ(image.payloadHeader().dataOffset, 96u);
}

}  // namespace
