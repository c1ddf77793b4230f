#pragma once
// Files and folders by UTF-8 path. TAppendFile is the log's file: opened for writing, shared for
// reading only, created when missing, content kept, every write at the end; on Linux a symbolic link
// in its place is refused, never followed.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class TAppendFile {
 public:
  TAppendFile() = default;
  ~TAppendFile();
  TAppendFile(const TAppendFile&) = delete;
  TAppendFile& operator=(const TAppendFile&) = delete;

  bool Open(const std::string& path);
  bool IsOpen() const;
  bool Write(const void* data, size_t size);
  void Close();

 private:
  intptr_t FHandle = -1;
};

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);

}  // namespace plat
