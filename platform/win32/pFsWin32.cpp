#include <windows.h>

#include "pFs.h"
#include "wText.h"

namespace plat {

bool MakeDirectory(const std::string& path) {
  if (CreateDirectoryW(ToWide(path).c_str(), nullptr)) return true;
  DWORD a = GetFileAttributesW(ToWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool MoveFileNoReplace(const std::string& from, const std::string& to, uint32_t* errorCode) {
  // Without MOVEFILE_REPLACE_EXISTING an existing target makes the move fail.
  BOOL ok = MoveFileExW(ToWide(from).c_str(), ToWide(to).c_str(), MOVEFILE_COPY_ALLOWED);
  if (errorCode) *errorCode = ok ? 0 : GetLastError();
  return ok != FALSE;
}

bool RemoveFile(const std::string& path, uint32_t* errorCode) {
  BOOL ok = DeleteFileW(ToWide(path).c_str());
  if (errorCode) *errorCode = ok ? 0 : GetLastError();
  return ok != FALSE;
}

bool RemoveEmptyDirectory(const std::string& path) {
  return RemoveDirectoryW(ToWide(path).c_str()) != FALSE;
}

bool PathExists(const std::string& path) {
  return GetFileAttributesW(ToWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ListDirectory(const std::string& path, std::vector<TDirEntry>& entries) {
  entries.clear();
  std::wstring pattern = ToWide(path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW fd;
  HANDLE h = FindFirstFileW(pattern.c_str(), &fd);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;  // an empty drive root
  do {
    const std::wstring name = fd.cFileName;
    if (name == L"." || name == L"..") continue;
    entries.push_back(TDirEntry{FromWide(name), (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0});
  } while (FindNextFileW(h, &fd));
  FindClose(h);
  return true;
}

}  // namespace plat
