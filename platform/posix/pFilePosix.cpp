#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pFile.h"

namespace plat {

TAppendFile::~TAppendFile() {
  Close();
}

bool TAppendFile::Open(const std::string& path) {
  Close();
  // Never through a symbolic link: in a shared folder another user could point it anywhere.
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  FHandle = fd;
  return true;
}

bool TAppendFile::IsOpen() const {
  return FHandle >= 0;
}

bool TAppendFile::Write(const void* data, size_t size) {
  if (FHandle < 0) return false;
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(FHandle), p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

void TAppendFile::Close() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
  FHandle = -1;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace plat
