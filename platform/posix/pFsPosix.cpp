#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include "pFs.h"

namespace plat {

bool MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0) return true;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool MoveFileNoReplace(const std::string& from, const std::string& to, uint32_t* errorCode) {
  int r = ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  if (r != 0 && (errno == EINVAL || errno == ENOSYS)) {
    // A file system without the no-replace rename: a hard link fails on an existing target too.
    r = ::link(from.c_str(), to.c_str());
    if (r == 0) ::unlink(from.c_str());
  }
  if (errorCode) *errorCode = r == 0 ? 0 : static_cast<uint32_t>(errno);
  return r == 0;
}

bool RemoveFile(const std::string& path, uint32_t* errorCode) {
  struct stat st {};
  int r = -1;
  if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    errno = EISDIR;
  else
    r = ::unlink(path.c_str());
  if (errorCode) *errorCode = r == 0 ? 0 : static_cast<uint32_t>(errno);
  return r == 0;
}

bool RemoveEmptyDirectory(const std::string& path) {
  return ::rmdir(path.c_str()) == 0;
}

bool PathExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

bool ListDirectory(const std::string& path, std::vector<TDirEntry>& entries) {
  entries.clear();
  DIR* d = ::opendir(path.c_str());
  if (d == nullptr) return false;
  while (dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    struct stat st {};
    const bool dir = ::stat((path + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    entries.push_back(TDirEntry{name, dir});
  }
  ::closedir(d);
  return true;
}

}  // namespace plat
