// Compares the lengths the instruction copier decodes with the GNU
// disassembler's over the code sections of real 32-bit DLLs (Wine's own).

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "patching/instruction_copier.h"

namespace {

struct Listed {
  size_t offset;  // from the start of the section
  size_t length;
  bool bad;  // the disassembler lost sync ("(bad)")
};

struct Section {
  std::vector<uint8_t> bytes;
  std::vector<Listed> instructions;
};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One line of `objdump -d --insn-width=16`: "addr:\tbytes\tmnemonic".
bool ParseLine(const std::string& line, unsigned long* address, std::vector<uint8_t>* bytes, bool* bad) {
  size_t colon = line.find(":\t");
  size_t first = line.find_first_not_of(' ');
  if (colon == std::string::npos || first == std::string::npos) return false;
  char* end = nullptr;
  *address = std::strtoul(line.c_str() + first, &end, 16);
  if (end != line.c_str() + colon) return false;
  size_t pos = colon + 2;
  bytes->clear();
  while (pos + 1 < line.size() && HexDigit(line[pos]) >= 0 && HexDigit(line[pos + 1]) >= 0) {
    bytes->push_back(static_cast<uint8_t>(HexDigit(line[pos]) * 16 + HexDigit(line[pos + 1])));
    pos += 2;
    if (pos < line.size() && line[pos] == ' ') ++pos;
  }
  *bad = line.find("(bad)", pos) != std::string::npos;
  return !bytes->empty();
}

Section Disassemble(const std::string& dll) {
  Section section;
  std::string command = std::string(QUELBRAND_OBJDUMP) + " -d -j .text --insn-width=16 " + dll;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return section;
  std::map<unsigned long, std::vector<uint8_t>> lines;
  std::map<unsigned long, bool> badLines;
  char buffer[4096];
  std::vector<uint8_t> bytes;
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
    unsigned long address;
    bool bad;
    if (!ParseLine(buffer, &address, &bytes, &bad)) continue;
    lines[address] = bytes;
    badLines[address] = bad;
  }
  pclose(pipe);
  if (lines.empty()) return section;
  // Runs of zeros that the disassembler skips ("...") stay zero here.
  unsigned long base = lines.begin()->first;
  unsigned long last = lines.rbegin()->first + lines.rbegin()->second.size();
  section.bytes.assign(last - base + 64, 0);
  for (const auto& [address, code] : lines) {
    std::copy(code.begin(), code.end(), section.bytes.begin() + static_cast<long>(address - base));
    section.instructions.push_back(Listed{address - base, code.size(), badLines[address]});
  }
  return section;
}

std::string Hex(const uint8_t* p, size_t n) {
  std::ostringstream out;
  for (size_t i = 0; i < n; ++i) {
    static const char* digits = "0123456789abcdef";
    out << (i ? " " : "") << digits[p[i] >> 4] << digits[p[i] & 15];
  }
  return out.str();
}

TEST(DecoderReference, LengthsMatchTheDisassemblerOnWineDlls) {
  const char* dlls[] = {"kernel32.dll", "d3dx9_43.dll", "msvcrt.dll",
                        "user32.dll",   "ntdll.dll",    "ucrtbase.dll"};
  size_t compared = 0;
  size_t bad = 0;
  size_t invalidRows = 0;
  std::vector<std::string> disagreements;
  for (const char* dll : dlls) {
    std::string path = std::string(QUELBRAND_WINE_DLL_DIR) + "/" + dll;
    Section section = Disassemble(path);
    if (section.instructions.empty()) GTEST_SKIP() << "no disassembly of " << path;
    for (const Listed& listed : section.instructions) {
      if (listed.bad) {
        ++bad;
        continue;
      }
      const uint8_t* src = section.bytes.data() + listed.offset;
      uint8_t copy[64];
      CopyOutcome outcome;
      const uint8_t* next = CopyInstruction(copy, src, CodeDistance(src, copy), &outcome);
      if (outcome.invalid) {
        ++invalidRows;
        continue;
      }
      // The disassembler folds WAIT (9B) into the x87 instruction after it
      // (fstsw for wait; fnstsw); the processor runs them as two.
      if (src[0] == 0x9B && listed.length > 1) next = CopyInstruction(copy, next, 0, &outcome);
      ++compared;
      size_t length = static_cast<size_t>(next - src);
      if (length != listed.length) {
        std::ostringstream line;
        line << dll << "+" << std::hex << listed.offset << std::dec << ": " << Hex(src, listed.length)
             << " (disassembler " << listed.length << ", decoder " << length << ")";
        disagreements.push_back(line.str());
      }
    }
  }
  std::printf(
      "compared %zu instructions; excluded %zu in the decoder's invalid rows and %zu "
      "that the disassembler could not decode\n",
      compared, invalidRows, bad);
  for (size_t i = 0; i < disagreements.size() && i < 100; ++i)
    std::printf("  %s\n", disagreements[i].c_str());
  EXPECT_GE(compared, 200000u);
  EXPECT_EQ(disagreements.size(), 0u);
}

}  // namespace
