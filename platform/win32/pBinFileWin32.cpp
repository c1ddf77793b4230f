#include <windows.h>

#include "pBinFile.h"
#include "wOpenRegular.h"
#include "wText.h"

namespace plat {

TBinFile::~TBinFile() {
  Close();
}

namespace {
intptr_t OpenForWriting(const std::string& path, DWORD disposition) {
  HANDLE h = OpenRegularFileForWriting(path, FILE_SHARE_READ, disposition);
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
}
}  // namespace

bool TBinFile::Create(const std::string& path) {
  Close();
  FHandle = OpenForWriting(path, CREATE_ALWAYS);
  FPos = FHandle != -1 ? 0 : -1;
  return FHandle != -1;
}

bool TBinFile::CreateNew(const std::string& path) {
  Close();
  FHandle = OpenForWriting(path, CREATE_NEW);
  FPos = FHandle != -1 ? 0 : -1;
  return FHandle != -1;
}

bool TBinFile::IsOpen() const {
  return FHandle != -1;
}

size_t TBinFile::Write(const void* data, size_t size) {
  if (FHandle == -1) return 0;
  HANDLE h = reinterpret_cast<HANDLE>(FHandle);
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    const size_t left = size - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!WriteFile(h, p + done, chunk, &written, nullptr) || written == 0) {
      done += written;
      break;
    }
    done += written;
  }
  FPos += static_cast<int64_t>(done);
  return done;
}

bool TBinFile::Seek(int64_t pos) {
  if (FHandle == -1 || pos < 0) return false;
  LARGE_INTEGER to;
  to.QuadPart = pos;
  if (!SetFilePointerEx(reinterpret_cast<HANDLE>(FHandle), to, nullptr, FILE_BEGIN)) return false;
  FPos = pos;
  return true;
}

int64_t TBinFile::Position() const {
  return FHandle != -1 ? FPos : -1;
}

bool TBinFile::Truncate() {
  if (FHandle == -1) return false;
  return SetEndOfFile(reinterpret_cast<HANDLE>(FHandle)) != 0;
}

void TBinFile::Close() {
  if (FHandle != -1) CloseHandle(reinterpret_cast<HANDLE>(FHandle));
  FHandle = -1;
  FPos = -1;
}

}  // namespace plat
