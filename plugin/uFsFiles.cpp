// The host's file operations on the plug-in's tree: recordings are real files under the recordings
// folder, reached only through the parsed path (which refuses any component that could leave it);
// Status.txt and the live tickets are generated at each fetch; folders and the rest cannot be fetched.
#include "uFsFiles.h"

#include <algorithm>

#include "pCopyFile.h"
#include "pFile.h"
#include "pFs.h"
#include "pReadFile.h"
#include "uEngineState.h"
#include "uFsResults.h"
#include "uHostUi.h"
#include "uIcons.h"
#include "uPluginConfig.h"
#include "uVfs.h"
#include "uWavThumb.h"
#include "uWlxView.h"

namespace {

// The host's move bit: the entry is to be removed once it is copied.
constexpr int kFsCopyFlagMove = 4;

bool IsRecording(const TVfsPath& p) {
  return p.Kind == vkChannelFile || p.Kind == vkArchiveFile || p.Kind == vkAllRecordingsFile;
}
bool IsTicket(const TVfsPath& p) {
  return p.Kind == vkLiveView || p.Kind == vkLiveAudio || p.Kind == vkLiveMulti;
}

// The real file of a recording entry that exists now; "" otherwise.
std::string ExistingRecording(const TTalvConfig& cfg, const TVfsPath& p) {
  if (!IsRecording(p)) return "";
  const std::string real = RecordingPathOf(RecordingsFolder(cfg), p);
  return !real.empty() && plat::FileExists(real) ? real : "";
}

}  // namespace

int CopyWithProgress(const std::string& source, const std::string& target, bool overwrite) {
  // Each copy reports its own names: the routine carries them, nothing library-wide.
  const plat::TCopyResult r =
      plat::CopyFileWithProgress(source, target, overwrite, [&](int64_t total, int64_t copied) {
        const int percent = total > 0 ? static_cast<int>(copied * 100 / total) : 0;
        return HostProgress(source, target, percent);
      });
  switch (r) {
    case plat::TCopyResult::Ok:
      return kFsFileOk;
    case plat::TCopyResult::SourceNotFound:
      return kFsFileNotFound;
    case plat::TCopyResult::TargetExists:
      return kFsFileExists;
    case plat::TCopyResult::Aborted:
      return kFsFileUserAbort;
    default:
      return kFsFileWriteError;
  }
}

std::string BuildTicketText(const TTalvConfig& cfg, const TVfsPath& p) {
  const char* mode = p.Kind == vkLiveAudio ? "audio" : p.Kind == vkLiveMulti ? "multi" : "spectrum";
  const std::string modulation = ModulationName(cfg.Modulation);
  if (p.Hz > 0)
    return WriteTicket(mode, p.Hz, RoundHalfEven(ModulationWidthHz(cfg.Modulation) * 1.6), modulation,
                       FormatMHzExact(p.Hz) + "  " + modulation);
  return WriteTicket(mode, ScanRangeCentre(cfg), ScanRangeWidth(cfg), modulation,
                     FormatHz(cfg.StartHz) + " .. " + FormatHz(cfg.StopHz));
}

std::string ReadWholeFile(const std::string& path) {
  plat::TReadFile file;
  if (!file.Open(path)) return "";
  const int64_t size = file.Size();
  if (size <= 0 || size > kMaxTicketFileBytes) return "";
  std::string text(static_cast<size_t>(size), '\0');
  text.resize(file.ReadAt(0, text.data(), text.size()));
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  return text;
}

int PluginGetFile(const std::string& remoteName, const std::string& localName, int copyFlags) {
  const TTalvConfig cfg = LoadPluginConfig();
  const TVfsPath p = ParseVfsPath(remoteName);
  const bool overwrite = (copyFlags & kFsCopyFlagOverwrite) != 0;
  if (IsRecording(p)) {
    const std::string real = ExistingRecording(cfg, p);
    if (real.empty()) return kFsFileNotFound;
    if (!overwrite && plat::PathExists(localName)) return kFsFileExists;
    const int result = CopyWithProgress(real, localName, overwrite);
    // A move removes the recording once it is copied; when it cannot go (the engine still writes
    // it), the host hears of a failure rather than of a move that did not happen. Both copies stay.
    if (result == kFsFileOk && (copyFlags & kFsCopyFlagMove) && !plat::RemoveFile(real))
      return kFsFileWriteError;
    return result;
  }
  if (p.Kind == vkStatus) return FetchStatusText(localName, copyFlags);
  if (IsTicket(p)) return FetchGeneratedFile(localName, copyFlags, [&] { return BuildTicketText(cfg, p); });
  return kFsFileNotSupported;
}

bool PluginDeleteFile(const std::string& remoteName) {
  const TTalvConfig cfg = LoadPluginConfig();
  const TVfsPath p = ParseVfsPath(remoteName);
  if (!IsRecording(p)) return false;
  const std::string real = RecordingPathOf(RecordingsFolder(cfg), p);
  return !real.empty() && plat::RemoveFile(real);
}

bool PluginRemoveDir(const std::string& remoteName) {
  const TTalvConfig cfg = LoadPluginConfig();
  const TVfsPath p = ParseVfsPath(remoteName);
  const std::string recordings = RecordingsFolder(cfg);
  std::string real;
  if (p.Kind == vkChannel && !recordings.empty())
    real = JoinPath(recordings, FormatMHzExact(p.Hz));
  else if (p.Kind == vkArchiveFolder)
    real = ArchiveRecordingPath(recordings, p.Folder, "");
  if (real.empty()) return false;
  return plat::RemoveEmptyDirectory(real) || !plat::PathExists(real);
}

int PluginExtractIcon(const std::string& remoteName, int extractFlags, uintptr_t& icon) {
  const int id = IconIdForPath(ParseVfsPath(remoteName));
  if (id == 0) return kFsIconUseDefault;
  const uintptr_t loaded = LoadIconForPath(id, (extractFlags & kFsIconFlagSmall) != 0);
  if (loaded == 0) return kFsIconUseDefault;
  icon = loaded;
  return kFsIconExtractedDestroy;
}

int PluginPreviewBitmap(const std::string& remoteName, int width, int height, uintptr_t& bitmap) {
  const TTalvConfig cfg = LoadPluginConfig();
  const std::string real = ExistingRecording(cfg, ParseVfsPath(remoteName));
  if (real.empty()) return kFsBitmapNone;
  plat::TBitmapHandle bmp = MakeWavThumbnail(real, width, height);
  if (!bmp) return kFsBitmapNone;
  bitmap = reinterpret_cast<uintptr_t>(bmp);
  return kFsBitmapExtracted;
}

uintptr_t PluginListPreviewBitmap(const std::string& fileToLoad, int width, int height) {
  if (fileToLoad.empty()) return 0;
  // A private record from the library's settings file: the library's record is not touched here.
  TTalvConfig cfg;
  std::string ini = PluginState().IniPath();
  if (ini.empty()) ini = LocateIniFile();
  LoadConfigFromIni(cfg, ini);
  if (!cfg.ThumbAllWav && !IsOwnRecording(fileToLoad)) return 0;
  return reinterpret_cast<uintptr_t>(MakeWavThumbnail(fileToLoad, width, height));
}

uintptr_t PluginListLoad(uintptr_t parentWin, const std::string& fileToLoad, int) {
  const TTalvConfig cfg = LoadPluginConfig();
  const TViewTicket ticket = ReadTicket(ReadWholeFile(fileToLoad));
  if (!ticket.Valid) return 0;
  return OpenLiveView(parentWin, ticket, cfg);
}

void PluginListClose(uintptr_t listWin) {
  CloseLiveView(listWin);
}
