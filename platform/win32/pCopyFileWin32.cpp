// Our own read/write loop rather than CopyFileExW: every system then reports progress and honours a
// cancel the same way (Wine's CopyFileExW never calls the progress routine).
#include <windows.h>

#include <vector>

#include "pCopyFile.h"
#include "wOpenRegular.h"
#include "wText.h"

namespace plat {

TCopyResult CopyFileWithProgress(const std::string& source, const std::string& target, bool overwrite,
                                 const TCopyProgress& progress) {
  HANDLE in = OpenRegularFileForReading(source, FILE_FLAG_SEQUENTIAL_SCAN);
  if (in == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    return e == ERROR_FILE_NOT_FOUND || e == ERROR_PATH_NOT_FOUND ? TCopyResult::SourceNotFound
                                                                  : TCopyResult::Failed;
  }
  LARGE_INTEGER size = {};
  FILETIME written = {};
  const bool haveTime = GetFileTime(in, nullptr, nullptr, &written) != 0;
  if (!GetFileSizeEx(in, &size)) {
    CloseHandle(in);
    return TCopyResult::Failed;
  }
  const std::wstring targetW = ToWide(target);
  HANDLE out = OpenRegularFileForWriting(target, 0, overwrite ? CREATE_ALWAYS : CREATE_NEW);
  if (out == INVALID_HANDLE_VALUE) {
    const DWORD e = GetLastError();
    CloseHandle(in);
    if (e == ERROR_FILE_EXISTS || e == ERROR_ALREADY_EXISTS) return TCopyResult::TargetExists;
    if (e == ERROR_PATH_NOT_FOUND) return TCopyResult::SourceNotFound;  // as the system's copy reports it
    return TCopyResult::Failed;
  }
  const int64_t total = size.QuadPart;
  int64_t done = 0;
  TCopyResult result = TCopyResult::Ok;
  std::vector<char> buffer(size_t{1} << 20);
  if (progress && progress(total, 0)) result = TCopyResult::Aborted;
  while (result == TCopyResult::Ok) {
    DWORD got = 0;
    if (!ReadFile(in, buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
      result = TCopyResult::Failed;
      break;
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!WriteFile(out, buffer.data(), got, &put, nullptr) || put != got) {
      result = TCopyResult::Failed;
      break;
    }
    done += got;
    if (progress && progress(total, done)) result = TCopyResult::Aborted;
  }
  if (result == TCopyResult::Ok && haveTime) SetFileTime(out, nullptr, nullptr, &written);
  CloseHandle(in);
  if (!CloseHandle(out) && result == TCopyResult::Ok) result = TCopyResult::Failed;
  if (result != TCopyResult::Ok) DeleteFileW(targetW.c_str());
  return result;
}

}  // namespace plat
