#include "wOpenRegular.h"
#include "wText.h"

namespace plat {
namespace {

// h when it is a file on disk; else closed, with the error the caller's callers expect.
HANDLE KeepIfOnDisk(HANDLE h, DWORD errorIfNot) {
  if (h != INVALID_HANDLE_VALUE && GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    SetLastError(errorIfNot);
    return INVALID_HANDLE_VALUE;
  }
  return h;
}

}  // namespace

HANDLE OpenRegularFileForReading(const std::string& path, DWORD flags) {
  return KeepIfOnDisk(CreateFileW(ToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | flags, nullptr),
                      ERROR_FILE_NOT_FOUND);
}

HANDLE OpenRegularFileForWriting(const std::string& path, DWORD share, DWORD disposition) {
  return KeepIfOnDisk(CreateFileW(ToWide(path).c_str(), GENERIC_WRITE, share, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr),
                      ERROR_INVALID_NAME);
}

}  // namespace plat
