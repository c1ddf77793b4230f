// Finding files and file times on Linux.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "pFind.h"

namespace plat {
namespace {

constexpr int64_t kUnixToFileTimeSecs = 11644473600;  // 1601-01-01 to 1970-01-01

uint64_t FileTimeOf(const timespec& ts) {
  return static_cast<uint64_t>((static_cast<int64_t>(ts.tv_sec) + kUnixToFileTimeSecs) * 10000000 +
                               ts.tv_nsec / 100);
}

}  // namespace

bool FindEntries(const std::string& folder, const std::string& mask, std::vector<TFoundEntry>& entries) {
  entries.clear();
  if (folder.empty()) return false;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  std::string base = folder.back() == '/' ? folder : folder + "/";
  while (dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == ".." || !MatchesMask(name, mask)) continue;
    struct stat st {};
    if (::stat((base + name).c_str(), &st) != 0) continue;  // gone since, or a dangling link
    TFoundEntry f;
    f.Name = name;
    f.IsDirectory = S_ISDIR(st.st_mode);
    f.Size = f.IsDirectory ? 0 : static_cast<int64_t>(st.st_size);
    f.LastWriteUtc = FileTimeOf(st.st_mtim);
    entries.push_back(std::move(f));
  }
  ::closedir(dir);
  return !entries.empty();
}

bool TouchFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool FileTimeToLocalDateTime(uint64_t fileTimeUtc, double& dateTime) {
  int64_t secs = static_cast<int64_t>(fileTimeUtc / 10000000) - kUnixToFileTimeSecs;
  int ms = static_cast<int>(fileTimeUtc % 10000000 / 10000);
  time_t t = static_cast<time_t>(secs);
  tm parts{};
  if (!localtime_r(&t, &parts)) return false;
  TLocalTime lt{
      parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec, ms};
  dateTime = DateTimeOf(lt);
  return true;
}

bool LocalDateTimeToFileTime(double dateTime, uint64_t& fileTimeUtc) {
  TLocalTime lt = DateTimeParts(dateTime);
  if (lt.Year < 1601 || lt.Year > 30827) return false;
  // mktime is slow (it consults the time zone file each call) and a listing converts many times of a
  // few hours (now, and the hours channels were last seen in): the starts of the last four hours asked
  // for are kept per thread. Clock changes fall on hour boundaries, so one hour has one offset.
  struct THourStart {
    int Year = 0, Month = 0, Day = 0, Hour = -1;
    time_t Start = 0;
  };
  thread_local THourStart cache[4];
  thread_local unsigned next = 0;
  const THourStart* hit = nullptr;
  for (const THourStart& h : cache)
    if (h.Year == lt.Year && h.Month == lt.Month && h.Day == lt.Day && h.Hour == lt.Hour) hit = &h;
  if (!hit) {
    tm parts{};
    parts.tm_year = lt.Year - 1900;
    parts.tm_mon = lt.Month - 1;
    parts.tm_mday = lt.Day;
    parts.tm_hour = lt.Hour;
    parts.tm_isdst = -1;
    time_t t = ::mktime(&parts);
    if (t == static_cast<time_t>(-1) && !(lt.Year == 1969 || lt.Year == 1970)) return false;
    THourStart& slot = cache[next++ % 4];
    slot = {lt.Year, lt.Month, lt.Day, lt.Hour, t};
    hit = &slot;
  }
  int64_t secs = static_cast<int64_t>(hit->Start) + lt.Minute * 60 + lt.Second;
  int64_t ft = (secs + kUnixToFileTimeSecs) * 10000000 + int64_t{lt.Millisecond} * 10000;
  if (ft < 0) return false;
  fileTimeUtc = static_cast<uint64_t>(ft);
  return true;
}

}  // namespace plat
