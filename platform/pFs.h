#pragma once
// Folder and file operations by UTF-8 path, for the recorder and whoever keeps files on disk:
// create one folder, move without ever overwriting, delete, test and list. Each call does one system
// operation and reports failure as false, with the system's error code where the caller logs it.
// Nothing here creates parent folders (the recorder's EnsureFolder walks the chain) or retries.
#include <cstdint>
#include <string>
#include <vector>

namespace plat {

// Creates one folder whose parent exists. True when it was created or already is a folder.
bool MakeDirectory(const std::string& path);

// Moves (renames) a file. Fails when the target exists: an existing file is never replaced.
// errorCode, when given, receives the system's error code on failure (0 on success).
bool MoveFileNoReplace(const std::string& from, const std::string& to, uint32_t* errorCode = nullptr);

// Deletes a file (not a folder).
bool RemoveFile(const std::string& path, uint32_t* errorCode = nullptr);

// Deletes an empty folder.
bool RemoveEmptyDirectory(const std::string& path);

// A file or folder of that name exists.
bool PathExists(const std::string& path);

struct TDirEntry {
  std::string Name;  // the name alone, without the folder
  bool IsDirectory = false;
};

// The entries of a folder ("." and ".." left out), in no particular order. False when the folder
// cannot be read; entries is then empty.
bool ListDirectory(const std::string& path, std::vector<TDirEntry>& entries);

}  // namespace plat
