#pragma once
// The one way the Windows backend opens a file that it is asked to read (a recording, a ticket, a WAV
// anywhere on disk) or to write (a take, a copy, a generated text): only a file on disk is kept open; a
// pipe or a character device behind the name (NUL, COM1, CON) is closed again at once.
#include <windows.h>

#include <string>

namespace plat {

// A handle for reading with the given flags (FILE_FLAG_SEQUENTIAL_SCAN or 0), shared for reading and
// writing, or INVALID_HANDLE_VALUE.
HANDLE OpenRegularFileForReading(const std::string& path, DWORD flags);
// A handle for writing, created with disposition (CREATE_ALWAYS or CREATE_NEW) and shared as share
// says, or INVALID_HANDLE_VALUE.
HANDLE OpenRegularFileForWriting(const std::string& path, DWORD share, DWORD disposition);

}  // namespace plat
