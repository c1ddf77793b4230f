// Finding files and file times on Windows.
#include <windows.h>

#include "pFind.h"
#include "wText.h"

namespace plat {
namespace {

uint64_t U64(const FILETIME& ft) {
  return (uint64_t{ft.dwHighDateTime} << 32) | ft.dwLowDateTime;
}
FILETIME Ft(uint64_t v) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(v & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(v >> 32);
  return ft;
}

}  // namespace

bool FindEntries(const std::string& folder, const std::string& mask, std::vector<TFoundEntry>& entries) {
  entries.clear();
  if (folder.empty()) return false;
  std::string base = (folder.back() == '\\' || folder.back() == '/') ? folder : folder + "\\";
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(ToWide(base + mask).c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return false;
  do {
    std::string name = FromWide(fd.cFileName);
    if (name == "." || name == "..") continue;
    TFoundEntry f;
    f.Name = name;
    f.IsDirectory = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    f.Size = f.IsDirectory ? 0 : static_cast<int64_t>((uint64_t{fd.nFileSizeHigh} << 32) | fd.nFileSizeLow);
    f.LastWriteUtc = U64(fd.ftLastWriteTime);
    entries.push_back(std::move(f));
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return !entries.empty();
}

bool TouchFile(const std::string& path) {
  HANDLE h = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

bool FileTimeToLocalDateTime(uint64_t fileTimeUtc, double& dateTime) {
  FILETIME utc = Ft(fileTimeUtc), local;
  SYSTEMTIME st;
  if (!FileTimeToLocalFileTime(&utc, &local) || !FileTimeToSystemTime(&local, &st)) return false;
  dateTime = DateTimeOf({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
  return true;
}

bool LocalDateTimeToFileTime(double dateTime, uint64_t& fileTimeUtc) {
  TLocalTime t = DateTimeParts(dateTime);
  if (t.Year < 1601 || t.Year > 30827) return false;
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.Year);
  st.wMonth = static_cast<WORD>(t.Month);
  st.wDay = static_cast<WORD>(t.Day);
  st.wHour = static_cast<WORD>(t.Hour);
  st.wMinute = static_cast<WORD>(t.Minute);
  st.wSecond = static_cast<WORD>(t.Second);
  st.wMilliseconds = static_cast<WORD>(t.Millisecond);
  FILETIME local, utc;
  if (!SystemTimeToFileTime(&st, &local) || !LocalFileTimeToFileTime(&local, &utc)) return false;
  fileTimeUtc = U64(utc);
  return true;
}

}  // namespace plat
