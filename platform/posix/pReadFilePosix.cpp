#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pReadFile.h"
#include "xOpenRegular.h"

namespace plat {

TReadFile::~TReadFile() {
  Close();
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
