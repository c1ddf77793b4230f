#pragma once
// A binary file written at positions of its writer's choosing (the WAV writer patches its header).
// Create makes a new file, replacing an old one, CreateNew never touches an existing one; the file is opened
// for writing only and others may read it meanwhile. Write reports the bytes the system really took, so a
// caller never counts data that is not in the file. Paths are UTF-8. Nothing is buffered here.
#include <cstddef>
#include <cstdint>
#include <string>

namespace plat {

class TBinFile {
 public:
  TBinFile() = default;
  ~TBinFile();
  TBinFile(const TBinFile&) = delete;
  TBinFile& operator=(const TBinFile&) = delete;

  // Creates (or empties) the file; false when it cannot be created. Closes any file open before.
  bool Create(const std::string& path);
  // Creates the file only when no file of that name exists; false otherwise (an existing file is
  // never opened, let alone emptied). Closes any file open before.
  bool CreateNew(const std::string& path);
  bool IsOpen() const;
  // Writes at the current position; returns the bytes written (fewer than size on an error).
  size_t Write(const void* data, size_t size);
  // Moves the current position to pos bytes from the start.
  bool Seek(int64_t pos);
  // The current position (bytes from the start); -1 when closed.
  int64_t Position() const;
  // Cuts the file at the current position.
  bool Truncate();
  void Close();

 private:
  intptr_t FHandle = -1;
  int64_t FPos = -1;
};

}  // namespace plat
