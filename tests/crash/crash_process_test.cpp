// The stand-in game crashing for real, in a child process (crash_game.exe)
// started in this test's game folder; the tests read what it left behind:
// the log, the minidump, the facts it wrote before the fault, the save calls
// and its exit code. Every child is killed after a timeout.

#include <gtest/gtest.h>
#include <windows.h>
// dbghelp.h relies on the types of windows.h.
#include <dbghelp.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "crash_scenarios.h"
#include "standin/game_crash.h"
#include "standin/standin.h"

namespace {

// Minidumps are slow under emulation; the handler gives a dump minutes.
constexpr DWORD kChildTimeoutMs = 600000;
// Handling in which nothing moves ends within 60 s of the fault; the child
// gets some seconds more to start.
constexpr DWORD kFreezeTimeoutMs = 75000;
constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kStackOverflow = 0xC00000FD;
constexpr uint32_t kGameBase = 0x400000;
constexpr uint32_t kDumpSignature = 0x504D444D;  // "MDMP"
constexpr char kDumpPath[] = "data/skse/plugins/Quelbrand.dmp";
constexpr char kStackHeading[] =
    "ERROR: Call Stack (Skyrim ignored the frame pointer register (ebp) so it may not correct) :";

struct ChildRun {
  bool finished;
  DWORD exitCode;
};

// Starts crash_game.exe from this game folder and waits for it, bounded.
ChildRun RunCrashGame(const char* scenario, DWORD timeoutMs = kChildTimeoutMs) {
  const std::string program = standin::GameFolder() + "\\crash_game.exe";
  std::string source = CRASH_GAME_PATH;
  if (source[0] == '/') source = "Z:" + source;  // a Unix path seen from Wine
  CopyFileA(source.c_str(), program.c_str(), FALSE);
  for (const char* stale : {kFactsPath, kSecondFaultPath, standin::kSaveRecordPath, kDumpPath})
    DeleteFileA(stale);

  std::string command = "\"" + program + "\" " + scenario;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ChildRun run = {false, 0};
  if (!CreateProcessA(program.c_str(), &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &child)) {
    ADD_FAILURE() << "cannot start " << program << " (error " << GetLastError() << ")";
    return run;
  }
  run.finished = WaitForSingleObject(child.hProcess, timeoutMs) == WAIT_OBJECT_0;
  if (!run.finished) {
    TerminateProcess(child.hProcess, 1);
    WaitForSingleObject(child.hProcess, 5000);
  }
  GetExitCodeProcess(child.hProcess, &run.exitCode);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  EXPECT_TRUE(run.finished) << scenario << " still running after " << timeoutMs << " ms";
  return run;
}

std::map<std::string, std::vector<std::string>> ReadFacts() {
  std::map<std::string, std::vector<std::string>> facts;
  std::ifstream in(kFactsPath);
  std::string key, value;
  while (in >> key && std::getline(in >> std::ws, value)) facts[key].push_back(value);
  return facts;
}

uint32_t HexValue(const std::string& text) { return static_cast<uint32_t>(std::stoul(text, nullptr, 16)); }

std::string Hex(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08x", value);
  return text;
}

bool InPlugin(const std::map<std::string, std::vector<std::string>>& facts, uint32_t address) {
  std::istringstream plugin(facts.at("plugin").at(0));
  std::string base, size;
  plugin >> base >> size;
  return address >= HexValue(base) && address - HexValue(base) < HexValue(size);
}

std::vector<std::string> LogWithoutTimes() {
  std::vector<std::string> lines;
  for (const auto& line : standin::ReadLogLines()) lines.push_back(standin::WithoutTime(line));
  return lines;
}

std::string LastLine() {
  const std::vector<std::string> lines = LogWithoutTimes();
  return lines.empty() ? "" : lines.back();
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

// The whole crash report: the log from "Fatal error occured" on.
std::vector<std::string> ReportLines() {
  std::vector<std::string> lines = LogWithoutTimes();
  size_t at = 0;
  while (at < lines.size() && lines[at] != "ERROR: Fatal error occured") ++at;
  return std::vector<std::string>(lines.begin() + static_cast<long>(at), lines.end());
}

// The report without the sections after the Havok statistics (thread,
// registers, stack scan, modules, each a heading and tab-indented lines).
std::vector<std::string> CrashLines() {
  std::vector<std::string> lines;
  bool inSection = false;
  for (const std::string& line : ReportLines()) {
    if ((StartsWith(line, "ERROR: Thread ") && std::isdigit(static_cast<unsigned char>(line[14]))) ||
        StartsWith(line, "ERROR: Registers:") || StartsWith(line, "ERROR: Stack (") ||
        StartsWith(line, "ERROR: Modules"))
      inSection = true;
    else if (!StartsWith(line, "ERROR: \t"))
      inSection = false;
    if (!inSection) lines.push_back(line);
  }
  return lines;
}

size_t LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<size_t>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string& line) { return StartsWith(line, prefix); }));
}

// The frame lines of the report, between the heading and the next section.
std::vector<std::string> FrameLines(const std::vector<std::string>& report) {
  std::vector<std::string> frames;
  size_t at = 0;
  while (at < report.size() && report[at] != kStackHeading) ++at;
  for (++at; at < report.size() && report[at].rfind("ERROR: \t", 0) == 0 &&
             report[at].find(" memory ") == std::string::npos;
       ++at)
    frames.push_back(report[at].substr(8));
  return frames;
}

// The start of a frame line for `address` in the module loaded at `base`.
std::string FramePrefix(const std::string& module, uint32_t base, uint32_t address) {
  char text[64];
  std::snprintf(text, sizeof text, "+0x%x : ", address - base);
  return module + text;
}

struct Dump {
  bool valid = false;
  std::set<uint32_t> streams;
  uint32_t threadId = 0, code = 0, contextEip = 0;
  uint64_t type = 0, address = 0, size = 0;
};

// Reads the minidump's header, stream directory and exception stream, with
// every location checked against the file's size.
Dump ReadDump() {
  Dump dump;
  std::ifstream in(kDumpPath, std::ios::binary | std::ios::ate);
  if (!in) return dump;
  dump.size = static_cast<uint64_t>(in.tellg());
  auto read = [&](uint64_t at, void* out, size_t size) {
    if (at + size > dump.size) return false;
    in.seekg(static_cast<std::streamoff>(at));
    return static_cast<bool>(in.read(static_cast<char*>(out), static_cast<std::streamsize>(size)));
  };
  MINIDUMP_HEADER header;
  if (!read(0, &header, sizeof header) || header.Signature != kDumpSignature) return dump;
  dump.type = header.Flags;
  for (uint32_t i = 0; i < header.NumberOfStreams; ++i) {
    MINIDUMP_DIRECTORY entry;
    if (!read(header.StreamDirectoryRva + uint64_t{i} * sizeof entry, &entry, sizeof entry) ||
        entry.Location.Rva + uint64_t{entry.Location.DataSize} > dump.size)
      return dump;
    dump.streams.insert(entry.StreamType);
    if (entry.StreamType != ExceptionStream) continue;
    MINIDUMP_EXCEPTION_STREAM exception;
    CONTEXT context;
    if (!read(entry.Location.Rva, &exception, sizeof exception) ||
        !read(exception.ThreadContext.Rva, &context, sizeof context))
      return dump;
    dump.threadId = exception.ThreadId;
    dump.code = exception.ExceptionRecord.ExceptionCode;
    dump.address = exception.ExceptionRecord.ExceptionAddress;
    dump.contextEip = context.Eip;
  }
  dump.valid = true;
  return dump;
}

std::vector<std::string> SaveCalls() {
  std::vector<std::string> calls;
  std::ifstream in(standin::kSaveRecordPath);
  for (std::string line; std::getline(in, line);) calls.push_back(line);
  return calls;
}

TEST(CrashReport, AccessViolationGivesTheWholeReportDumpAndSave) {
  const ChildRun run = RunCrashGame(kScenarioWrite);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  const auto facts = ReadFacts();
  // The game's own filter was exchanged for the plug-in's, also the second time.
  EXPECT_TRUE(InPlugin(facts, HexValue(facts.at("installed").at(0))));

  const std::vector<std::string> log = LogWithoutTimes();
  const std::vector<std::string> startUp = {"Quelbrand",
                                            standin::kVersionLine,
                                            "INFO: Queue OK",
                                            "INFO: Memory Hooked",
                                            "INFO: Hooked D3DX9_42.dll D3DXCreateTextureFromFileInMemory",
                                            "INFO: Hooked D3DX9_43.dll D3DXCreateTextureFromFileInMemoryEx",
                                            "INFO: SKSEPlugin_Load"};
  ASSERT_GE(log.size(), startUp.size());
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + startUp.size()), startUp);
  const std::vector<std::string> report = CrashLines();
  ASSERT_GE(report.size(), 9u);
  const std::string address = report[4].substr(report[4].find("0x"));
  const std::vector<std::string> head = {"ERROR: Fatal error occured",
                                         "ERROR: Code : 0xc0000005",
                                         "ERROR: Flag : 0x00000000",
                                         "ERROR: Module : " + facts.at("module").at(0),
                                         "ERROR: Address : " + address,
                                         "ERROR: Module Address : 0x00400000",
                                         "ERROR: AccessViolation, try to write 0x00000010 failed",
                                         kStackHeading};
  EXPECT_EQ(std::vector<std::string>(report.begin(), report.begin() + 8), head);

  // Each frame names its module and offset, starting at the fault and going
  // up through its callers.
  const std::vector<std::string> frames = FrameLines(report);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_TRUE(StartsWith(frames[0], FramePrefix("crash_game.exe", kGameBase, HexValue(address))))
      << frames[0];
  for (size_t i = 1; i < 3; ++i) {
    const uint32_t caller = HexValue(facts.at("frame").at(2 - i));
    EXPECT_TRUE(StartsWith(frames[i], FramePrefix("crash_game.exe", kGameBase, caller))) << frames[i];
  }
  const std::vector<std::string> tail = {"ERROR: Minidump saved in Quelbrand.dmp",
                                         "ERROR: Plugin is trying to save game", "ERROR: Game saved"};
  EXPECT_EQ(report.size(), 8 + frames.size() + tail.size());
  EXPECT_EQ(std::vector<std::string>(report.end() - 3, report.end()), tail);

  const Dump dump = ReadDump();
  ASSERT_TRUE(dump.valid);
  for (uint32_t stream :
       {ThreadListStream, ModuleListStream, MemoryListStream, ExceptionStream, SystemInfoStream})
    EXPECT_EQ(dump.streams.count(stream), 1u) << stream;
  EXPECT_EQ(dump.type, MiniDumpNormal);
  EXPECT_EQ(dump.threadId, std::stoul(facts.at("thread").at(0), nullptr, 16));
  EXPECT_EQ(dump.code, kAccessViolation);
  EXPECT_EQ(Hex(static_cast<uint32_t>(dump.address)), address);
  EXPECT_EQ(Hex(dump.contextEip), address);  // the faulting state, not a walked one

  const std::vector<std::string> calls = SaveCalls();
  ASSERT_EQ(calls.size(), 1u);
  std::istringstream call(calls[0]);
  std::string manager, name, autosave;
  int value1 = 0, value2 = 0;
  unsigned long thread = 0;
  call >> manager >> name >> autosave >> value1 >> value2 >> thread;
  EXPECT_EQ(manager, facts.at("manager").at(0));
  EXPECT_EQ(name + " " + autosave, "Quelbrand Autosave");
  EXPECT_EQ(value1, -1);
  EXPECT_EQ(value2, 0);
  EXPECT_NE(thread, std::stoul(facts.at("thread").at(0), nullptr, 16));
}

TEST(CrashReport, ReadFaultWithSymbolsAndNoAutosave) {
  standin::WriteSettings("[Exception]\nAutoSaveGame=false\n");
  const ChildRun run = RunCrashGame(kScenarioReadSymbols);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  const auto facts = ReadFacts();
  const std::vector<std::string> report = CrashLines();
  ASSERT_GE(report.size(), 8u);
  EXPECT_EQ(report[6], "ERROR: AccessViolation, try to read 0x00000000 failed");

  // The game set up the symbol handler: module, function, file and line.
  const std::vector<std::string> frames = FrameLines(report);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_TRUE(StartsWith(frames[0], "crash_game.exe+0x")) << frames[0];
  EXPECT_NE(frames[0].find(" : FaultInner+0x"), std::string::npos) << frames[0];
  const std::string fileAndLine = "crash_game.cpp line " + facts.at("line").at(0);
  EXPECT_EQ(frames[0].substr(frames[0].size() - fileAndLine.size()), fileAndLine) << frames[0];
  EXPECT_NE(frames[1].find(" : FaultOuter+0x"), std::string::npos) << frames[1];
  EXPECT_NE(frames[2].find(" : main+0x"), std::string::npos) << frames[2];

  EXPECT_EQ(report.back(), "ERROR: Minidump saved in Quelbrand.dmp");
  EXPECT_TRUE(SaveCalls().empty());
  const Dump dump = ReadDump();
  ASSERT_TRUE(dump.valid);
  EXPECT_EQ(dump.contextEip, static_cast<uint32_t>(dump.address));
}

TEST(CrashReport, FrameChainInALoopStillEndsTheWalk) {
  const ChildRun run = RunCrashGame(kScenarioCyclicFrames);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  const std::vector<std::string> report = CrashLines();
  const std::vector<std::string> frames = FrameLines(report);
  EXPECT_GE(frames.size(), 2u);
  EXPECT_LE(frames.size(), 1024u);
  ASSERT_FALSE(report.empty());
  EXPECT_EQ(report.back(), "ERROR: Game saved");
}

TEST(CrashReport, CxxExceptionAndHavokStatistics) {
  const ChildRun run = RunCrashGame(kScenarioCxxHavok);
  EXPECT_EQ(run.exitCode, 0xE06D7363);
  const auto facts = ReadFacts();
  const std::vector<std::string> report = CrashLines();
  ASSERT_GE(report.size(), 8u);
  EXPECT_EQ(report[1], "ERROR: Code : 0xe06d7363");
  EXPECT_EQ(report[2], "ERROR: Flag : 0x00000001");
  EXPECT_EQ(report[6], "ERROR: C++ Exception class SaveFileCorrupted");

  // After the frames: the thread's four allocators; the Debug allocator's
  // statistics function faults and leaves its numbers unknown.
  std::vector<std::string> expected = {"ERROR: Thread local Havok memory heap:"};
  const char* names[] = {"Temp", "Heap", "Debug", "Solver"};
  for (int i = 0; i < 4; ++i) {
    const std::string prefix = std::string("ERROR: \t") + names[i] + " memory ";
    auto number = [&](int field) { return std::to_string(i == 2 ? -1 : i * 1000 + field); };
    expected.push_back(prefix + "allocator:0x" + facts.at("allocator").at(static_cast<size_t>(i)));
    expected.push_back(prefix + "allocated:" + number(1));
    expected.push_back(prefix + "in used:" + number(2));
    expected.push_back(prefix + "available:" + number(4));
    expected.push_back(prefix + "total available:" + number(5));
    expected.push_back(prefix + "largest block:" + number(6));
  }
  expected.push_back("ERROR: Minidump saved in Quelbrand.dmp");
  expected.push_back("ERROR: Plugin is trying to save game");
  expected.push_back("ERROR: Game saved");
  ASSERT_GE(report.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(report.end() - static_cast<long>(expected.size()), report.end()),
            expected);
}

TEST(CrashFilterTakeover, VerdictFollowsReportToWindows) {
  // The game's later filter replaces the plug-in's as usual; it hands the
  // crash to the plug-in's filter it got back and exits with the verdict.
  const ChildRun keep = RunCrashGame(kScenarioVerdict);
  EXPECT_EQ(keep.exitCode, kVerdictExitBase + EXCEPTION_EXECUTE_HANDLER);
  EXPECT_TRUE(InPlugin(ReadFacts(), HexValue(ReadFacts().at("forwarded").at(0))));
  EXPECT_EQ(LastLine(), "ERROR: Game saved");

  standin::WriteSettings("[Exception]\nReportToWindows= 1\nAutoSaveGame=0\n");
  const ChildRun handOver = RunCrashGame(kScenarioVerdict);
  EXPECT_EQ(handOver.exitCode, kVerdictExitBase + EXCEPTION_CONTINUE_SEARCH);
  EXPECT_EQ(LastLine(), "ERROR: Minidump saved in Quelbrand.dmp");
}

TEST(CrashFilterTakeover, UnloadPutsTheGameFilterBack) {
  const ChildRun run = RunCrashGame(kScenarioUnload);
  EXPECT_EQ(run.exitCode, standin::kGameFilterExitCode);
  EXPECT_EQ(LastLine(), "INFO: Detach");
  EXPECT_TRUE(CrashLines().empty());
}

TEST(Autosave, BlockedSaveIsGivenUpAfterAboutFiveSeconds) {
  const ChildRun run = RunCrashGame(kScenarioSaveBlock);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  EXPECT_EQ(SaveCalls().size(), 1u);
  const std::vector<std::string> report = CrashLines();
  ASSERT_GE(report.size(), 2u);
  EXPECT_EQ(report[report.size() - 2], "ERROR: Plugin is trying to save game");
  EXPECT_EQ(report.back(), "ERROR: Save failed");
}

TEST(Autosave, FaultingSaveOrMissingManagerFailsAtOnce) {
  for (const char* scenario : {kScenarioSaveFault, kScenarioNoManager}) {
    const ChildRun run = RunCrashGame(scenario);
    EXPECT_EQ(run.exitCode, kAccessViolation) << scenario;
    EXPECT_EQ(SaveCalls().size(), scenario == kScenarioSaveFault ? 1u : 0u) << scenario;
    // One report only: the fault in the save does not start a second one.
    const std::vector<std::string> report = CrashLines();
    ASSERT_GE(report.size(), 2u) << scenario;
    EXPECT_EQ(std::count(report.begin(), report.end(), "ERROR: Fatal error occured"), 1) << scenario;
    EXPECT_EQ(report[report.size() - 2], "ERROR: Plugin is trying to save game") << scenario;
    EXPECT_EQ(report.back(), "ERROR: Save failed") << scenario;
  }
}

TEST(CrashDump, FullMemoryDumpHoldsTheWholeProcess) {
  standin::WriteSettings("[Exception]\nMiniDumpWithFullMemory=TRUE\nAutoSaveGame=0\n");
  const ChildRun run = RunCrashGame(kScenarioWrite);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  const Dump dump = ReadDump();
  ASSERT_TRUE(dump.valid);
  EXPECT_EQ(dump.type, MiniDumpWithFullMemory);
  EXPECT_EQ(dump.streams.count(Memory64ListStream), 1u);
  EXPECT_GT(dump.size, uint64_t{standin::kGameAreaEnd - standin::kGameAreaBegin});
  EXPECT_EQ(dump.code, kAccessViolation);
  DeleteFileA(kDumpPath);
}

// A valid dump of the crash of thread `thread` with exception `code`.
void ExpectDumpOf(const std::string& thread, DWORD code) {
  const Dump dump = ReadDump();
  ASSERT_TRUE(dump.valid);
  EXPECT_EQ(dump.threadId, HexValue(thread));
  EXPECT_EQ(dump.code, code);
}

std::vector<std::string> Tail(const std::vector<std::string>& report, size_t count) {
  return std::vector<std::string>(report.end() - static_cast<long>(std::min(count, report.size())),
                                  report.end());
}

const std::vector<std::string> kDumpAndSave = {"ERROR: Minidump saved in Quelbrand.dmp",
                                               "ERROR: Plugin is trying to save game", "ERROR: Game saved"};

TEST(CrashReport, StackOverflowOnAnyThreadIsReported) {
  for (const char* scenario : {kScenarioOverflowMain, kScenarioOverflowThread}) {
    const ChildRun run = RunCrashGame(scenario);
    EXPECT_EQ(run.exitCode, kStackOverflow) << scenario;
    const auto facts = ReadFacts();
    const std::vector<std::string> report = CrashLines();
    ASSERT_GE(report.size(), 7u) << scenario;
    EXPECT_EQ(report[1], "ERROR: Code : 0xc00000fd") << scenario;
    EXPECT_EQ(report[6], kStackHeading) << scenario;
    const std::vector<std::string> frames = FrameLines(report);
    ASSERT_FALSE(frames.empty()) << scenario;
    EXPECT_TRUE(StartsWith(frames[0], "crash_game.exe+0x")) << frames[0];
    // The recursion folds into one line; the frame after it is its first caller.
    EXPECT_LT(frames.size(), 100u) << scenario;
    const auto fold = std::find_if(frames.begin(), frames.end(), [](const std::string& frame) {
      return StartsWith(frame, "... same frame ");
    });
    ASSERT_LT(fold + 1, frames.end()) << scenario;
    EXPECT_NE(fold[1].find(scenario == kScenarioOverflowMain ? " : main+0x" : " : OverflowThread+0x"),
              std::string::npos)
        << fold[1];
    EXPECT_EQ(report.size(), 7 + frames.size() + kDumpAndSave.size()) << scenario;
    EXPECT_EQ(Tail(report, 3), kDumpAndSave) << scenario;
    ExpectDumpOf(facts.at("thread").at(0), kStackOverflow);
    EXPECT_EQ(SaveCalls().size(), 1u) << scenario;
  }
}

TEST(CrashReport, SecondCrashingThreadNeitherReportsNorDumps) {
  // The first crashing thread holds the process heap lock throughout.
  for (const bool reportToWindows : {false, true}) {
    standin::WriteSettings(std::string("[Exception]\nAutoSaveGame=0\nReportToWindows=") +
                           (reportToWindows ? "1" : "0") + "\n");
    const ChildRun run = RunCrashGame(kScenarioTwoThreads);
    EXPECT_EQ(run.exitCode,
              kVerdictExitBase + (reportToWindows ? EXCEPTION_CONTINUE_SEARCH : EXCEPTION_EXECUTE_HANDLER));
    std::ifstream mark(kSecondFaultPath);
    EXPECT_EQ(mark.get(), '1');
    const std::vector<std::string> report = CrashLines();
    ASSERT_GE(report.size(), 8u);
    EXPECT_EQ(std::count(report.begin(), report.end(), "ERROR: Fatal error occured"), 1);
    EXPECT_EQ(report[6], "ERROR: AccessViolation, try to write 0x00000010 failed");
    EXPECT_EQ(report.back(), kDumpAndSave[0]);
    ExpectDumpOf(ReadFacts().at("thread").at(0), kAccessViolation);
  }
}

TEST(CrashReport, HangingStepIsLeftBehind) {
  const ChildRun run = RunCrashGame(kScenarioHavokHang);
  EXPECT_EQ(run.exitCode, kAccessViolation);
  std::vector<std::string> expected = {"ERROR: Thread local Havok memory heap:",
                                       "ERROR: Havok statistics did not finish within 4000 ms"};
  expected.insert(expected.end(), kDumpAndSave.begin(), kDumpAndSave.end());
  EXPECT_EQ(Tail(CrashLines(), expected.size()), expected);
  ExpectDumpOf(ReadFacts().at("thread").at(0), kAccessViolation);
  EXPECT_EQ(SaveCalls().size(), 1u);
}

TEST(CrashReport, FramesInADllOrInNoModule) {
  standin::WriteSettings("[Exception]\nAutoSaveGame=0\n");
  RunCrashGame(kScenarioDllFault);
  std::vector<std::string> report = CrashLines();
  ASSERT_GE(report.size(), 5u);
  const uint32_t address = HexValue(report[4].substr(report[4].find("0x")));
  std::vector<std::string> frames = FrameLines(report);
  ASSERT_FALSE(frames.empty());
  EXPECT_TRUE(
      StartsWith(frames[0], FramePrefix("msvcrt.dll", HexValue(ReadFacts().at("dll").at(0)), address)))
      << frames[0];

  RunCrashGame(kScenarioNoModule);
  frames = FrameLines(CrashLines());
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames[0], "no module : 0x" + ReadFacts().at("code").at(0));
}

// The dump file cannot be created, or the writer fails once it is.
TEST(CrashDump, UnwritableDumpIsAnErrorNotASuccess) {
  for (const char* scenario : {kScenarioWrite, kScenarioDumpFails}) {
    const bool folder = scenario == kScenarioWrite;
    if (folder) {
      ASSERT_TRUE(CreateDirectoryA(kDumpPath, nullptr));
    }
    const ChildRun run = RunCrashGame(scenario);
    if (folder) RemoveDirectoryA(kDumpPath);
    EXPECT_EQ(run.exitCode, kAccessViolation) << scenario;
    const std::vector<std::string> report = CrashLines();
    ASSERT_GE(report.size(), 8u) << scenario;
    EXPECT_EQ(report[1], "ERROR: Code : 0xc0000005") << scenario;
    EXPECT_EQ(std::count(report.begin(), report.end(), kDumpAndSave[0]), 0) << scenario;
    const std::string error = "ERROR: Minidump not written to Quelbrand.dmp, error 0x";
    EXPECT_EQ(LinesStartingWith(report, error), 1u) << scenario;
    EXPECT_TRUE(StartsWith(report[report.size() - 3], error)) << report[report.size() - 3];
    EXPECT_EQ(Tail(report, 2), std::vector<std::string>(kDumpAndSave.begin() + 1, kDumpAndSave.end()));
  }
}

// Each ends by itself within the child's timeout, with the crash's code and
// the report's lines; a dump that is missing has a line saying why.
TEST(CrashHandling, FreezesOnceSeenEndWithTheCrashCode) {
  const struct {
    const char* scenario;
    DWORD code;
    const char* line;
    bool completes;
  } cases[] = {
      {kScenarioSecondHoldsHeap, kAccessViolation, "ERROR: AccessViolation, try to write 0x00000010 failed",
       false},
      {kScenarioLoggingThread, kAccessViolation, "ERROR: AccessViolation, try to write 0x00000010 failed",
       false},
      {kScenarioHavokHangLocked, kAccessViolation, "ERROR: Havok statistics did not finish within 4000 ms",
       false},
      {kScenarioOverflowHang, kStackOverflow, "ERROR: Havok statistics did not finish within 4000 ms", true},
      {kScenarioHavokBreak, kAccessViolation, "ERROR: \tHeap memory allocated:-1", true},
  };
  for (const auto& c : cases) {
    const ChildRun run = RunCrashGame(c.scenario, kFreezeTimeoutMs);
    EXPECT_EQ(run.exitCode, c.code) << c.scenario;
    // The logging thread's lines go on between the report's.
    std::vector<std::string> report = CrashLines();
    report.erase(
        std::remove(report.begin(), report.end(), "ERROR: loaded in editor, marking as incompatible"),
        report.end());
    ASSERT_GE(report.size(), 7u) << c.scenario;
    EXPECT_EQ(std::count(report.begin(), report.end(), "ERROR: Fatal error occured"), 1) << c.scenario;
    EXPECT_EQ(report[1], "ERROR: Code : " + Hex(c.code)) << c.scenario;
    EXPECT_EQ(std::count(report.begin(), report.end(), c.line), 1) << c.scenario;
    if (c.completes) {
      EXPECT_EQ(Tail(report, 3), kDumpAndSave) << c.scenario;
    }
    if (std::count(report.begin(), report.end(), kDumpAndSave[0]) == 0) {
      EXPECT_EQ(LinesStartingWith(report, "ERROR: Minidump did not finish") +
                    LinesStartingWith(report, "ERROR: Crash handling given up before Minidump"),
                1u)
          << c.scenario;
    }
  }
}

// The line of `lines` that starts with `prefix`, or "".
std::string LineStartingWith(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (StartsWith(line, prefix)) return line;
  return "";
}

std::string ModuleOffset(const std::string& module, uint32_t base, uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "+0x%x", address - base);
  return module + text;
}

TEST(CrashReport, SectionsNameThreadRegistersStackAndModules) {
  standin::WriteSettings("[Exception]\nAutoSaveGame=0\n");
  RunCrashGame(kScenarioRegisters);
  auto facts = ReadFacts();
  std::vector<std::string> report = ReportLines();
  const std::string code = facts.at("code").at(0);
  const uint32_t msvcrt = reinterpret_cast<uintptr_t>(GetModuleHandleA("msvcrt.dll"));
  EXPECT_EQ(LineStartingWith(report, "ERROR: \tESI 0x" + facts.at("object").at(0)),
            "ERROR: \tESI 0x" + facts.at("object").at(0) + " object of class TESObjectREFR");
  EXPECT_EQ(LineStartingWith(report, "ERROR: \tEDI "),
            "ERROR: \tEDI 0x" + code + " " + ModuleOffset("msvcrt.dll", msvcrt, HexValue(code)));
  const std::string thread = std::to_string(HexValue(facts.at("thread").at(0)));
  EXPECT_TRUE(StartsWith(LineStartingWith(report, "ERROR: Thread " + thread + " "),
                         "ERROR: Thread " + thread + " (0x"));
  EXPECT_NE(LineStartingWith(report, "ERROR: \t0x00400000 0x"), "");
  EXPECT_EQ(LineStartingWith(report, "ERROR: Modules"), "ERROR: Modules:");

  // A return address the frame-pointer walk misses is on the stack.
  RunCrashGame(kScenarioNoFramePointer);
  const uint32_t returnAddress = HexValue(ReadFacts().at("return").at(0));
  report = ReportLines();
  EXPECT_GE(std::count_if(report.begin(), report.end(),
                          [&](const std::string& line) {
                            return StartsWith(line, "ERROR: \t[ESP+0x") &&
                                   line.find(Hex(returnAddress) + " " +
                                             ModuleOffset("crash_game.exe", kGameBase, returnAddress)) !=
                                       std::string::npos;
                          }),
            1);
}

TEST(CrashReport, FaultInAReplacementNamesTheChangedSite) {
  standin::WriteSettings("[Exception]\nAutoSaveGame=0\n");
  RunCrashGame(kScenarioReplacement);
  const std::vector<std::string> report = ReportLines();
  const std::string thread = LineStartingWith(report, "ERROR: Thread ");
  EXPECT_NE(thread.find(" faulted at Quelbrand.dll+0x"), std::string::npos) << thread;
  EXPECT_NE(thread.find(" in changed site MatrixMultiplySite"), std::string::npos) << thread;
  const std::vector<std::string> frames = FrameLines(report);
  ASSERT_FALSE(frames.empty());
  EXPECT_NE(frames[0].find("(changed site MatrixMultiplySite)"), std::string::npos) << frames[0];
}

}  // namespace
