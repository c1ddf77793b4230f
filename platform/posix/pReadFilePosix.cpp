#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pReadFile.h"
#include "xOpenRead.h"

namespace plat {

TReadFile::~TReadFile() {
  Close();
}

int OpenRegularFileForReading(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return -1;
  if (!S_ISREG(st.st_mode)) {
    errno = ENOENT;  // no file to read by that name
    return -1;
  }
  // Without waiting, should a FIFO have taken the name since the look.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  const int flags = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 ||
      ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    ::close(fd);
    errno = ENOENT;
    return -1;
  }
  return fd;
}

bool TReadFile::Open(const std::string& path, bool sequential) {
  Close();
  const int fd = OpenRegularFileForReading(path);
  if (fd < 0) return false;
#ifdef POSIX_FADV_SEQUENTIAL
  if (sequential) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
  FHandle = fd;
  return true;
}

bool TReadFile::IsOpen() const {
  return FHandle >= 0;
}

int64_t TReadFile::Size() const {
  struct stat st;
  if (FHandle < 0 || ::fstat(static_cast<int>(FHandle), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

size_t TReadFile::ReadAt(int64_t offset, void* buffer, size_t n) {
  if (FHandle < 0 || offset < 0) return 0;
  char* p = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < n) {
    const ssize_t got = ::pread(static_cast<int>(FHandle), p + done, n - done,
                                static_cast<off_t>(offset + static_cast<int64_t>(done)));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

void TReadFile::Close() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
  FHandle = -1;
}

}  // namespace plat
