#include <windows.h>

#include "pReadFile.h"
#include "wOpenRegular.h"
#include "wText.h"

namespace plat {

TReadFile::~TReadFile() {
  Close();
}

bool TReadFile::Open(const std::string& path, bool sequential) {
  Close();
  HANDLE h = OpenRegularFileForReading(path, sequential ? FILE_FLAG_SEQUENTIAL_SCAN : 0);
  if (h == INVALID_HANDLE_VALUE) return false;
  FHandle = reinterpret_cast<intptr_t>(h);
  return true;
}

bool TReadFile::IsOpen() const {
  return FHandle != -1;
}

int64_t TReadFile::Size() const {
  LARGE_INTEGER size;
  if (FHandle == -1 || !GetFileSizeEx(reinterpret_cast<HANDLE>(FHandle), &size)) return -1;
  return static_cast<int64_t>(size.QuadPart);
}

size_t TReadFile::ReadAt(int64_t offset, void* buffer, size_t n) {
  if (FHandle == -1 || offset < 0) return 0;
  HANDLE h = reinterpret_cast<HANDLE>(FHandle);
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const size_t left = n - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    const uint64_t at = static_cast<uint64_t>(offset) + done;
    OVERLAPPED ov = {};
    ov.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
    ov.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    if (!ReadFile(h, p + done, chunk, &got, &ov) || got == 0) break;
    done += got;
  }
  return done;
}

void TReadFile::Close() {
  if (FHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
  FHandle = -1;
}

}  // namespace plat
