#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "pCopyFile.h"
#include "xOpenRegular.h"

namespace plat {

TCopyResult CopyFileWithProgress(const std::string& source, const std::string& target, bool overwrite,
                                 const TCopyProgress& progress) {
  const int in = OpenRegularFileForReading(source);
  if (in < 0) return errno == ENOENT || errno == ENOTDIR ? TCopyResult::SourceNotFound : TCopyResult::Failed;
  struct stat st;
  if (::fstat(in, &st) != 0) {
    ::close(in);
    return TCopyResult::Failed;
  }
  const int out = OpenRegularFileForWriting(target, O_CREAT | (overwrite ? O_TRUNC : O_EXCL));
  if (out < 0) {
    const int e = errno;
    ::close(in);
    return e == EEXIST ? TCopyResult::TargetExists : TCopyResult::Failed;
  }
  const int64_t total = static_cast<int64_t>(st.st_size);
  int64_t done = 0;
  TCopyResult result = TCopyResult::Ok;
  std::vector<char> buffer(size_t{1} << 20);
  if (progress && progress(total, 0)) result = TCopyResult::Aborted;
  while (result == TCopyResult::Ok) {
    const ssize_t got = ::read(in, buffer.data(), buffer.size());
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) result = TCopyResult::Failed;
    if (got <= 0) break;
    size_t written = 0;
    while (written < static_cast<size_t>(got)) {
      const ssize_t n = ::write(out, buffer.data() + written, static_cast<size_t>(got) - written);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      written += static_cast<size_t>(n);
    }
    if (written != static_cast<size_t>(got)) {
      result = TCopyResult::Failed;
      break;
    }
    done += got;
    if (progress && progress(total, done)) result = TCopyResult::Aborted;
  }
  ::close(in);
  if (::close(out) != 0 && result == TCopyResult::Ok) result = TCopyResult::Failed;
  if (result != TCopyResult::Ok) ::unlink(target.c_str());
  return result;
}

}  // namespace plat
