#pragma once
// The host interface's result values and flags as the portable bodies of the exports return and read
// them (the values are the host's; the export layer passes them through unchanged).
#include <cstdint>

// FsExecuteFile
constexpr int kFsExecOk = 0;         // done or cancelled
constexpr int kFsExecError = 1;      // nothing to do
constexpr int kFsExecYourself = -1;  // the host fetches the file and opens it itself
constexpr int kFsExecSymlink = -2;   // the host shows the folder written into RemoteName

// FsGetFile
constexpr int kFsFileOk = 0;
constexpr int kFsFileExists = 1;
constexpr int kFsFileNotFound = 2;
constexpr int kFsFileWriteError = 4;
constexpr int kFsFileUserAbort = 5;
constexpr int kFsFileNotSupported = 6;
constexpr int kFsCopyFlagOverwrite = 1;

// FsExtractCustomIcon, FsGetPreviewBitmap
constexpr int kFsIconFlagSmall = 1;
constexpr int kFsIconUseDefault = 0;
constexpr int kFsIconExtractedDestroy = 2;
constexpr int kFsBitmapNone = 0;
constexpr int kFsBitmapExtracted = 1;

// The thread's last error after a listing that yields no handle.
constexpr uint32_t kFsErrorPathNotFound = 3;
constexpr uint32_t kFsErrorNoMoreFiles = 18;
