#include <windows.h>

#include "pFile.h"
#include "wText.h"

namespace plat {

TAppendFile::~TAppendFile() {
  Close();
}

bool TAppendFile::Open(const std::string& path) {
  Close();
  HANDLE h = CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  SetFilePointer(h, 0, nullptr, FILE_END);
  FHandle = reinterpret_cast<intptr_t>(h);
  return true;
}

bool TAppendFile::IsOpen() const {
  return FHandle != -1;
}

bool TAppendFile::Write(const void* data, size_t size) {
  if (FHandle == -1) return false;
  HANDLE h = reinterpret_cast<HANDLE>(FHandle);
  SetFilePointer(h, 0, nullptr, FILE_END);
  DWORD written = 0;
  return WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) && written == size;
}

void TAppendFile::Close() {
  if (FHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
  FHandle = -1;
}

bool FileExists(const std::string& path) {
  DWORD a = GetFileAttributesW(ToWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path) {
  DWORD a = GetFileAttributesW(ToWide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace plat
