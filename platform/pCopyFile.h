#pragma once
// Copying one file with progress reports and cancellation, for the plug-in's fetch of recordings.
// The progress routine is called with the total size and the bytes copied so far (first with 0, then
// as the copy goes on); answering true cancels the copy, which then leaves no target file behind.
// Each copy carries its own routine, so copies on several threads never mix their reports.
// Paths are UTF-8. A read/write loop in 1 MiB chunks on every system; a source that is no regular file
// (a folder, a FIFO, a device) and a target folder that is missing count as not found, as the
// system's own copy reports them.
#include <cstdint>
#include <functional>
#include <string>

namespace plat {

enum class TCopyResult { Ok, SourceNotFound, TargetExists, Aborted, Failed };

// Returns true to cancel.
using TCopyProgress = std::function<bool(int64_t totalBytes, int64_t copiedBytes)>;

// Copies source to target; without overwrite an existing target is left alone (TargetExists).
TCopyResult CopyFileWithProgress(const std::string& source, const std::string& target, bool overwrite,
                                 const TCopyProgress& progress);

}  // namespace plat
