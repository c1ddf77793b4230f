#include "TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "pFile.h"
#include "pFs.h"
#include "pSystem.h"

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

namespace testsupport {

bool InCI() {
  return plat::GetEnv("CI") == "true";
}

TTempDir::TTempDir() {
  static std::atomic<int> counter{0};
  std::filesystem::path base = std::filesystem::temp_directory_path();
  for (;;) {
    std::filesystem::path p =
        base / ("talv_test_" + std::to_string(plat::CurrentProcessId()) + "_" + std::to_string(counter++));
    std::error_code ec;
    if (std::filesystem::create_directory(p, ec)) {
      FPath = p.string();
      return;
    }
  }
}

TTempDir::~TTempDir() {
  std::error_code ec;
  std::filesystem::remove_all(FPath, ec);
}

std::string TTempDir::File(const std::string& name) const {
  return FPath + plat::PathSeparator() + name;
}

std::string EnginePath() {
  return plat::ModuleDir() + TALV_ENGINE_FILE;
}

plat::TProcessResult RunEngine(const std::vector<std::string>& args,
                               const std::vector<std::pair<std::string, std::string>>& env,
                               uint32_t timeoutMs) {
  return plat::RunProcess(EnginePath(), args, env, timeoutMs);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

bool WriteWholeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

#if !defined(_WIN32)
TFileSizeLimit::TFileSizeLimit(uint64_t maxBytes) {
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  FOldSoft = old.rlim_cur;
  FOldHard = old.rlim_max;
  FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit now = old;
  now.rlim_cur = static_cast<rlim_t>(maxBytes);
  Active = setrlimit(RLIMIT_FSIZE, &now) == 0;
}

TFileSizeLimit::~TFileSizeLimit() {
  rlimit old{};
  old.rlim_cur = static_cast<rlim_t>(FOldSoft);
  old.rlim_max = static_cast<rlim_t>(FOldHard);
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, FOldHandler);
}
#endif

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string line;
  std::istringstream in(text);
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  std::vector<plat::TDirEntry> entries;
  plat::ListDirectory(folder, entries);
  std::vector<std::string> names;
  for (auto& e : entries)
    if (!e.IsDirectory) names.push_back(e.Name);
  return names;
}

bool WaitUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
  const uint64_t t0 = plat::TickMs();
  while (!done()) {
    if (plat::TickMs() - t0 > timeoutMs) return false;
    plat::SleepMs(1);
  }
  return true;
}

uint64_t Fnv1a(const void* data, size_t size, uint64_t h) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < size; ++i) h = (h ^ p[i]) * 1099511628211ULL;
  return h;
}

std::string FindSoxi() {
#if defined(_WIN32)
  return "";
#else
  std::string path = plat::GetEnv("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string dir = path.substr(start, end - start);
    if (!dir.empty() && plat::FileExists(dir + "/soxi")) return dir + "/soxi";
    start = end + 1;
  }
  return "";
#endif
}

std::string Soxi(const std::string& soxi, const std::string& option, const std::string& file) {
  const plat::TProcessResult r = plat::RunProcess(soxi, {option, file}, {}, 30000);
  EXPECT_TRUE(r.Started) << r.Error;
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  std::string out = r.Output;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
  return out;
}

}  // namespace testsupport
