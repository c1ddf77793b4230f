#pragma once
// A file opened for reading at positions of the reader's choosing (the WAV reader walks chunks and
// reads sample blocks by offset). Others may read and write the file meanwhile: a recording the
// engine is still writing can be read. The size is the full 64-bit size at the time it is asked.
// Paths are UTF-8. One thread per object.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class TReadFile {
 public:
  TReadFile() = default;
  ~TReadFile();
  TReadFile(const TReadFile&) = delete;
  TReadFile& operator=(const TReadFile&) = delete;

  // Opens an existing regular file; anything else by that name (a folder, a FIFO, a device) is
  // refused at once, never waited on. sequential tells the system that reads mostly go forward.
  // Closes any file open before.
  bool Open(const std::string& path, bool sequential = false);
  bool IsOpen() const;
  // The file's size in bytes; -1 when closed or when the system cannot tell.
  int64_t Size() const;
  // Reads up to n bytes at offset; returns the bytes read (0 at or past the end, or on an error).
  size_t ReadAt(int64_t offset, void* buffer, size_t n);
  void Close();

 private:
  intptr_t FHandle = -1;
};

}  // namespace plat
