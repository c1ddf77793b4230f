#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "xOpenRegular.h"

namespace plat {
namespace {

// Opens path without waiting on a FIFO's other side, and keeps it only when it is a regular file:
// a look before the open (a device is never opened), one after (the name may have changed).
int OpenRegular(const std::string& path, int flags, int notRegularErrno) {
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    errno = notRegularErrno;
    return -1;
  }
  const int fd = ::open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return -1;
  const int status = ::fcntl(fd, F_GETFL);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || status < 0 ||
      ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
    ::close(fd);
    errno = notRegularErrno;
    return -1;
  }
  return fd;
}

}  // namespace

int OpenRegularFileForReading(const std::string& path) {
  return OpenRegular(path, O_RDONLY, ENOENT);  // no file to read by that name
}

int OpenRegularFileForWriting(const std::string& path, int createFlags) {
  return OpenRegular(path, O_WRONLY | createFlags, EINVAL);
}

}  // namespace plat
