#pragma once
// The one way the Windows backend opens a file that it is asked to read (a recording, a ticket, a WAV
// anywhere on disk): only a file on disk is opened, shared for reading and writing; a pipe or a
// character device behind the name is closed again at once.
#include <windows.h>

#include <string>

namespace plat {

// A handle for reading with the given flags (FILE_FLAG_SEQUENTIAL_SCAN or 0), or INVALID_HANDLE_VALUE.
HANDLE OpenRegularFileForReading(const std::string& path, DWORD flags);

}  // namespace plat
