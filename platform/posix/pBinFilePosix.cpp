#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pBinFile.h"
#include "xOpenRegular.h"

namespace plat {

TBinFile::~TBinFile() {
  Close();
}

namespace {
intptr_t OpenForWriting(const std::string& path, int createFlags) {
  return OpenRegularFileForWriting(path, createFlags);
}
}  // namespace

bool TBinFile::Create(const std::string& path) {
  Close();
  FHandle = OpenForWriting(path, O_CREAT | O_TRUNC);
  FPos = FHandle >= 0 ? 0 : -1;
  return FHandle >= 0;
}

bool TBinFile::CreateNew(const std::string& path) {
  Close();
  FHandle = OpenForWriting(path, O_CREAT | O_EXCL);
  FPos = FHandle >= 0 ? 0 : -1;
  return FHandle >= 0;
}

bool TBinFile::IsOpen() const {
  return FHandle >= 0;
}

size_t TBinFile::Write(const void* data, size_t size) {
  if (FHandle < 0) return 0;
  const char* p = static_cast<const char*>(data);
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::write(static_cast<int>(FHandle), p + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  FPos += static_cast<int64_t>(done);
  return done;
}

bool TBinFile::Seek(int64_t pos) {
  if (FHandle < 0 || pos < 0) return false;
  if (::lseek(static_cast<int>(FHandle), static_cast<off_t>(pos), SEEK_SET) == static_cast<off_t>(-1))
    return false;
  FPos = pos;
  return true;
}

int64_t TBinFile::Position() const {
  return FHandle >= 0 ? FPos : -1;
}

bool TBinFile::Truncate() {
  if (FHandle < 0) return false;
  return ::ftruncate(static_cast<int>(FHandle), static_cast<off_t>(FPos)) == 0;
}

void TBinFile::Close() {
  if (FHandle >= 0) ::close(static_cast<int>(FHandle));
  FHandle = -1;
  FPos = -1;
}

}  // namespace plat
