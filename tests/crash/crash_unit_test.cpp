// The crash handler's pieces in this process: the fault guard, the filter's
// refusal of incomplete records, and the thrown-type line.

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/guarded_call.h"
#include "crash/cxx_exception.h"
#include "crash/exception_filter.h"
#include "msvc_throw.h"
#include "standin/standin.h"

namespace {

// Head of the thread's exception handler chain.
uintptr_t HandlerChain() {
  uintptr_t head;
  asm volatile("mov %%fs:0, %0" : "=r"(head));
  return head;
}

void Fault(void* argument) {
  *static_cast<int*>(argument) = 1;
  volatile int* volatile nowhere = reinterpret_cast<int*>(0x10);
  *nowhere = 2;
}

// Clobbers every callee-saved register, then faults.
void FaultWithClobberedRegisters(void*) {
  asm volatile(
      "mov $0xBAD1, %%ebx\n\t"
      "mov $0xBAD2, %%esi\n\t"
      "mov $0xBAD3, %%edi\n\t"
      "movl $0, 0x10" ::
          : "ebx", "esi", "edi", "memory");
}

// Reached from inline assembly through a variable of fixed address.
GuardedBody clobberingBody = FaultWithClobberedRegisters;

void RaiseNoncontinuable(void*) { RaiseException(0xE06D7363, EXCEPTION_NONCONTINUABLE, 0, nullptr); }

struct Nested {
  bool innerReturned = true;
  bool outerWentOn = false;
  int touched = 0;
};

void NestedFault(void* argument) {
  auto* nested = static_cast<Nested*>(argument);
  nested->innerReturned = GuardedCall(Fault, &nested->touched) == 0;
  nested->outerWentOn = true;
}

TEST(GuardedCall, CatchesFaultsAndLeavesTheThreadAsItWas) {
  const auto chain = HandlerChain();
  int touched = 0;
  EXPECT_EQ(GuardedCall([](void* argument) { *static_cast<int*>(argument) = 7; }, &touched), 0u);
  EXPECT_EQ(touched, 7);
  EXPECT_EQ(GuardedCall(Fault, &touched), static_cast<uint32_t>(EXCEPTION_ACCESS_VIOLATION));
  EXPECT_EQ(touched, 1);  // what ran before the fault stays done
  EXPECT_EQ(GuardedCall(RaiseNoncontinuable, nullptr), 0xE06D7363u);
  EXPECT_EQ(HandlerChain(), chain);

  // Callee-saved registers come back as the caller had them.
  uint32_t ebx, esi, edi;
  uint32_t code;
  asm volatile(
      "mov $0x1111, %%ebx\n\t"
      "mov $0x2222, %%esi\n\t"
      "mov $0x3333, %%edi\n\t"
      "push $0\n\t"
      "push %[body]\n\t"
      "call _GuardedCall\n\t"
      "add $8, %%esp\n\t"
      "mov %%eax, %[code]\n\t"
      "mov %%ebx, %[ebx]\n\t"
      "mov %%esi, %[esi]\n\t"
      "mov %%edi, %[edi]"
      : [code] "=m"(code), [ebx] "=m"(ebx), [esi] "=m"(esi), [edi] "=m"(edi)
      : [body] "m"(clobberingBody)
      : "eax", "ecx", "edx", "ebx", "esi", "edi", "memory", "cc");
  EXPECT_NE(code, 0u);
  EXPECT_EQ(ebx, 0x1111u);
  EXPECT_EQ(esi, 0x2222u);
  EXPECT_EQ(edi, 0x3333u);

  // Guards nest: the inner one takes the fault, the outer body goes on.
  Nested nested;
  EXPECT_EQ(GuardedCall(NestedFault, &nested), 0u);
  EXPECT_FALSE(nested.innerReturned);
  EXPECT_TRUE(nested.outerWentOn);
  EXPECT_EQ(HandlerChain(), chain);
}

TEST(CrashFilter, IncompleteRecordsEndTheProcessWithoutAReport) {
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  EXCEPTION_POINTERS noContext = {&record, nullptr};
  EXCEPTION_POINTERS noRecord = {nullptr, &context};
  EXPECT_EQ(CrashFilter(&noContext), EXCEPTION_EXECUTE_HANDLER);
  EXPECT_EQ(CrashFilter(&noRecord), EXCEPTION_EXECUTE_HANDLER);
  EXPECT_EQ(CrashFilter(nullptr), EXCEPTION_EXECUTE_HANDLER);
  EXPECT_TRUE(standin::ReadLogLines().empty());
}

EXCEPTION_RECORD Thrown(const void* throwInfo, DWORD parameters = 3) {
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = kCxxExceptionCode;
  record.NumberParameters = parameters;
  record.ExceptionInformation[0] = kCxxMagic;
  record.ExceptionInformation[2] = reinterpret_cast<ULONG_PTR>(throwInfo);
  return record;
}

TEST(CrashReport, ThrownTypeIsNamedOrItsLineDropped) {
  const TypeDescriptor type = {nullptr, nullptr, ".?AVbad_alloc@std@@"};
  const CatchableType catchable = {0, &type, {0, -1, 0}, 4, nullptr};
  const CatchableTypeArray types = {1, {&catchable, nullptr}};
  const ThrowInfo info = {0, nullptr, nullptr, &types};
  const CatchableTypeArray noTypes = {1, {nullptr, nullptr}};
  const ThrowInfo broken = {0, nullptr, nullptr, &noTypes};

  EXCEPTION_RECORD record = Thrown(&info);
  LogCxxExceptionType(&record);
  for (const EXCEPTION_RECORD& bad :
       {Thrown(&broken), Thrown(reinterpret_cast<void*>(0x10)), Thrown(&info, 2)})
    LogCxxExceptionType(&bad);
  std::vector<std::string> lines;
  for (const auto& line : standin::ReadLogLines()) lines.push_back(standin::WithoutTime(line));
  EXPECT_EQ(lines, std::vector<std::string>{"ERROR: C++ Exception class std::bad_alloc"});
}

}  // namespace
