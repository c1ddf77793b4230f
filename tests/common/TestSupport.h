#pragma once
// Helpers shared by the test programs: a fresh temporary folder, the engine program beside the test
// program, and running it as a user would.
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

// Full path of soxi on the PATH; empty when it is not installed (always on Windows).
std::string FindSoxi();
// One soxi query (-r, -c, -b, -s, -D) of a file, trimmed; a failed run is a test failure.
std::string Soxi(const std::string& soxi, const std::string& option, const std::string& file);

// Splits program output into lines, dropping the CR of CR LF endings.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace testsupport
