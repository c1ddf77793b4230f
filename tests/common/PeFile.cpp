#include "PeFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <functional>

namespace {

uint32_t Le32(const std::string& b, size_t at) {
  if (at + 4 > b.size()) return 0;
  return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 | uint32_t(uint8_t(b[at + 2])) << 16 |
         uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Le16(const std::string& b, size_t at) {
  if (at + 2 > b.size()) return 0;
  return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}

// The file offset of data directory `entry`, with the mapping of other RVAs; npos when malformed.
struct TPeView {
  const std::string& Pe;
  size_t Sections = 0;
  uint16_t SectionCount = 0;
  size_t Directories = 0;
  bool Ok = false;

  explicit TPeView(const std::string& pe) : Pe(pe) {
    const size_t nt = Le32(pe, 0x3C);
    if (pe.size() < 64 || nt + 24 > pe.size() || pe.compare(0, 2, "MZ") != 0 ||
        pe.compare(nt, 4, std::string("PE\0\0", 4)) != 0) {
      ADD_FAILURE() << "not a PE file";
      return;
    }
    const size_t coff = nt + 4;
    SectionCount = Le16(pe, coff + 2);
    const size_t optional = coff + 20;
    const uint16_t magic = Le16(pe, optional);
    Directories = optional + (magic == 0x20B ? 112 : 96);
    Sections = optional + Le16(pe, coff + 16);
    Ok = true;
  }
  size_t Offset(uint32_t rva) const {
    for (uint16_t i = 0; i < SectionCount; ++i) {
      const size_t s = Sections + 40u * i;
      const uint32_t va = Le32(Pe, s + 12), size = std::max(Le32(Pe, s + 8), Le32(Pe, s + 16));
      if (rva >= va && rva < va + size) return rva - va + Le32(Pe, s + 20);
    }
    return std::string::npos;
  }
  uint32_t DirectoryRva(int entry) const { return Le32(Pe, Directories + 8u * entry); }
  std::string TextAt(size_t at) const {
    if (at == std::string::npos || at >= Pe.size()) return {};
    return Pe.substr(at, Pe.find('\0', at) - at);
  }
};

}  // namespace

std::vector<std::string> ImportedDlls(const std::string& pe) {
  std::vector<std::string> names;
  TPeView v(pe);
  if (!v.Ok) return names;
  size_t d = v.Offset(v.DirectoryRva(1));
  for (; d != std::string::npos && d + 20 <= pe.size() && Le32(pe, d + 12) != 0; d += 20) {
    const std::string name = v.TextAt(v.Offset(Le32(pe, d + 12)));
    if (name.empty()) break;
    names.push_back(name);
  }
  EXPECT_FALSE(names.empty()) << "no import directory found";
  return names;
}

std::vector<std::string> ExportedNames(const std::string& pe) {
  std::vector<std::string> names;
  TPeView v(pe);
  if (!v.Ok) return names;
  const size_t dir = v.Offset(v.DirectoryRva(0));
  if (dir == std::string::npos || dir + 40 > pe.size()) {
    ADD_FAILURE() << "no export directory found";
    return names;
  }
  const uint32_t count = Le32(pe, dir + 24);
  const size_t table = v.Offset(Le32(pe, dir + 32));
  for (uint32_t i = 0; i < count && table != std::string::npos; ++i)
    names.push_back(v.TextAt(v.Offset(Le32(pe, table + 4u * i))));
  return names;
}

bool IsSystemDll(const std::string& dll) {
  static const char* const kSystem[] = {"kernel32.dll", "msvcrt.dll", "shell32.dll",  "winmm.dll",
                                        "user32.dll",   "gdi32.dll",  "advapi32.dll", "ws2_32.dll",
                                        "ole32.dll",    "ntdll.dll",  "ucrtbase.dll"};
  std::string lower = dll;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  return std::find(std::begin(kSystem), std::end(kSystem), lower) != std::end(kSystem) ||
         lower.rfind("api-ms-win-", 0) == 0;
}
