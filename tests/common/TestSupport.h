#pragma once
// Helpers shared by the test programs: a fresh temporary folder, the engine program beside the test
// program and running it as a user would, whole files and lines, waiting for another thread, and the
// checksum that pins output across builds. Beside it, header-only for the programs that link the
// engine: LogCapture.h (the log's lines) and ThreeTones.h (the scan chain check's scene); the
// receiver every session opens is held by the engine's own TDeviceOverrideScope (uSdrDevices.h).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "pProcess.h"

namespace testsupport {

// True when the run is CI's (CI=true): tests must not skip there.
bool InCI();

// A new empty folder under the system's temporary folder, removed with everything in it on destruction.
class TTempDir {
 public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  const std::string& Path() const { return FPath; }  // ends without a separator
  std::string File(const std::string& name) const;   // Path + separator + name

 private:
  std::string FPath;
};

// Full path of the engine program that this build made (it lies beside the test programs).
std::string EnginePath();

// Runs the engine with args; extra environment variables are added.
plat::TProcessResult RunEngine(const std::vector<std::string>& args,
                               const std::vector<std::pair<std::string, std::string>>& env = {},
                               uint32_t timeoutMs = 120000);

// Reads or writes a whole file as bytes; ReadFile gives empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& bytes);

// Names of the files (not folders) in a folder; empty when it cannot be listed.
std::vector<std::string> FilesIn(const std::string& folder);
// Full path of soxi on the PATH; empty when it is not installed (always on Windows).
std::string FindSoxi();
// One soxi query (-r, -c, -b, -s, -D) of a file, trimmed; a failed run is a test failure.
std::string Soxi(const std::string& soxi, const std::string& option, const std::string& file);

#if !defined(_WIN32)
// While it lives, no file of this process may grow beyond maxBytes: writes past it fail as on a full
// disk (EFBIG; the signal that would end the process is ignored). Active is false when the limit could
// not be set.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(uint64_t maxBytes);
  ~TFileSizeLimit();
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  bool Active = false;

 private:
  uint64_t FOldSoft = 0;
  uint64_t FOldHard = 0;
  void (*FOldHandler)(int) = nullptr;
};
#endif

// Splits program output into lines, dropping the CR of CR LF endings.
std::vector<std::string> SplitLines(const std::string& text);

// Waits (really, in 1 ms steps) until `done` holds; false after timeoutMs. A bound against hanging
// for conditions another thread brings about, never a timing.
bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs = 120000);

// The start value of the tests' checksums (the checksums pinned in the tests were made with it).
constexpr uint64_t kHashStart = 1469598103934665603ULL;
// FNV-1a over the bytes, continuing from h: a checksum that pins output bit for bit across builds.
uint64_t Fnv1a(const void* data, size_t size, uint64_t h = kHashStart);

}  // namespace testsupport
