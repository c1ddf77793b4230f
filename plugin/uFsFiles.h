#pragma once
// The portable bodies of the host's file operations on the plug-in's tree: fetching an entry to a
// local file (recordings copied with progress, Status.txt and the live tickets generated), deleting
// recordings and channel or archive folders, the custom icons, the thumbnails, and the lister window
// for live tickets. The export layer converts the host's strings (paths "\"-separated, UTF-8),
// catches everything, and calls these.
//
// Handles cross as the system's values in uintptr_t: host windows (HWND), icons (HICON) and bitmaps
// (HBITMAP); 0 is none. Results are the host's values of uFsResults.h.
#include <cstdint>
#include <string>

#include "uTalvConfig.h"
#include "uVfs.h"

// FsGetFile: kFsFile* result.
int PluginGetFile(const std::string& remoteName, const std::string& localName, int copyFlags);
// FsDeleteFile and FsRemoveDir.
bool PluginDeleteFile(const std::string& remoteName);
bool PluginRemoveDir(const std::string& remoteName);
// FsExtractCustomIcon: kFsIcon* result; icon is set only with kFsIconExtractedDestroy.
int PluginExtractIcon(const std::string& remoteName, int extractFlags, uintptr_t& icon);
// FsGetPreviewBitmap: kFsBitmap* result; bitmap is set only with kFsBitmapExtracted.
int PluginPreviewBitmap(const std::string& remoteName, int width, int height, uintptr_t& bitmap);
// ListLoad: the lister window for a ticket file, or 0. ListCloseWindow.
uintptr_t PluginListLoad(uintptr_t parentWin, const std::string& fileToLoad, int showFlags);
void PluginListClose(uintptr_t listWin);
// ListGetPreviewBitmap: a thumbnail of a (real) file, or 0.
uintptr_t PluginListPreviewBitmap(const std::string& fileToLoad, int width, int height);

// The steps behind them.
// Copies with the host's progress reports (each copy its own names) and cancel: kFsFile* result.
int CopyWithProgress(const std::string& source, const std::string& target, bool overwrite);
// The ticket of a live ticket entry: its mode, the channel's frequency and span (or the scan range),
// the modulation and a title.
std::string BuildTicketText(const TTalvConfig& cfg, const TVfsPath& path);
// A ticket file's text: empty when it cannot be read, is empty or is larger than kMaxTicketFileBytes;
// a leading UTF-8 byte order mark is dropped.
constexpr int64_t kMaxTicketFileBytes = 65536;
std::string ReadWholeFile(const std::string& path);
