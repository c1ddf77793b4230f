#pragma once
// The one way the POSIX backend opens a file that it is asked to read (a recording, a ticket, a WAV
// anywhere on disk) or to write (a take, a copy, a generated text): only a regular file is opened. A
// FIFO would hold open() until the other side comes, and a device may act on being opened, so anything
// else is refused before it is opened, and a name that changes into one between the look and the open
// is refused without waiting on it.
#include <string>

namespace plat {

// A descriptor open for reading (blocking reads, closed on exec), or -1 with errno; ENOENT also when
// the name is something other than a regular file.
int OpenRegularFileForReading(const std::string& path);
// A descriptor open for writing (blocking writes, closed on exec; createFlags: O_CREAT with O_TRUNC
// or O_EXCL), or -1 with errno; EINVAL when the name is something other than a regular file.
int OpenRegularFileForWriting(const std::string& path, int createFlags);

}  // namespace plat
