#pragma once
// The plug-in's file system as folders and files: every path the host hands over is parsed into a
// TVfsPath with its kind; each folder's listing is built as a TFindList; the settings and Spectrum
// entries are named and Spectrum edits applied; recording entries are mapped to real files under the
// recordings folder.
//
// Virtual paths use "\" between components (the export layer turns a Linux host's "/" into "\").
// Names are compared exactly, case included; only channel folder names are read leniently. A path
// whose component is empty, ".", "..", or holds "/" or ":" (or a control character) is invalid, so no
// listing, fetch or deletion can reach outside the recordings folder. Real paths are joined with the
// system's separator.
//
// Listings are made afresh from the settings snapshot and the file system at each call; the caller owns
// the list. Times: generated entries carry "now", taken once per listing; real files their last-write
// time. Entry times are UTC FILETIMEs (100-ns steps since 1601). Nothing here keeps state; any thread.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "uTalvConfig.h"
#include "uTalvProto.h"

// ---------------------------------------------------------------------------------------------
// Fixed names

namespace vfs {
constexpr const char* kConfig = "Config";
constexpr const char* kSpectrum = "Spectrum";
constexpr const char* kChannels = "Channels";
constexpr const char* kArchive = "Archive";
constexpr const char* kStartScan = "Start Scan.cmd";
constexpr const char* kStopScan = "Stop Scan.cmd";
constexpr const char* kLiveAudio = "Live Audio.cmd";
constexpr const char* kStopLiveAudio = "Stop Live Audio.cmd";
constexpr const char* kStatus = "Status.txt";
constexpr const char* kHops = "Hops";
constexpr const char* kLiveViewTicket = "*** live view.talvview";
constexpr const char* kLiveAudioTicket = "*** live audio.talvaudio";
constexpr const char* kAllRecordings = "*** all recordings";
}  // namespace vfs

// ---------------------------------------------------------------------------------------------
// Parsed paths

enum TVfsKind : uint8_t {
  vkRoot = 0,
  vkConfig = 1,
  vkChannels = 2,
  vkConfigEntry = 3,
  vkChannel = 4,
  vkCommand = 5,
  vkStatus = 6,
  vkSpectrum = 7,
  vkSpectrumEntry = 8,
  vkHops = 9,
  vkHop = 10,
  vkLiveView = 11,
  vkLiveAudio = 12,
  vkLiveMulti = 13,
  vkChannelFile = 14,
  vkArchive = 15,
  vkArchiveFolder = 16,
  vkArchiveFile = 17,
  vkAllRecordings = 18,
  vkAllRecordingsFile = 19,
  vkInvalid = 20
};

struct TVfsPath {
  TVfsKind Kind = vkInvalid;
  std::string Key;       // settings key of a Config entry
  int64_t Hz = 0;        // channel of a channel path
  std::string Command;   // command file name
  std::string FileName;  // file inside a channel, archive or all-recordings folder
  std::string Folder;    // archive sub-folder ("*** all recordings" for kinds 18 and 19)
  uint8_t Entry = 0;     // Spectrum entry 1..6, 0 = none
};

// Leading and then trailing backslashes removed; first = up to the first backslash, rest = after it.
// False (both empty) when nothing remains.
bool SplitFirstComponent(std::string_view path, std::string& first, std::string& rest);
// "145.012500 MHz", "145.012500 mhz", "145.012500", "-0.000005 MHz": trimmed, an optional " MHz" in any
// case, an optional "-" and digits, ".", exactly six digits. False for anything else.
bool ParseChannelFolderName(std::string_view name, int64_t& hz);
// The shown key whose display name equals the text before " = " (trimmed); "" when none.
std::string ConfigKeyFromEntryName(std::string_view entryName);
// The Spectrum entry 1..6 whose name equals the text before " = " (trimmed); 0 when none.
uint8_t SpectrumEntryFromName(std::string_view entryName);
// Parses a virtual path (the record is cleared first).
void ParseVfsPath(std::string_view path, TVfsPath& parsed);
TVfsPath ParseVfsPath(std::string_view path);

// ---------------------------------------------------------------------------------------------
// Entry names and Spectrum edits

// Each of " * / : < > ? \ | becomes "_".
std::string SafeFileName(std::string_view text);
// The Config entry's file name: display name, " = ", the shown value made safe.
std::string ConfigEntryValueText(const TTalvConfig& cfg, std::string_view key);

int64_t ScanRangeCentre(const TTalvConfig& cfg);  // (StartHz + StopHz) div 2
int64_t ScanRangeWidth(const TTalvConfig& cfg);   // StopHz - StartHz

// Spectrum entries 1..6: Center Frequency, Bandwidth, Start Frequency, Stop Frequency, Sample Rate,
// Hops; any other number gives "".
std::string SpectrumEntryName(int entry);
std::string SpectrumEntryHint(int entry);
std::string SpectrumEntryValue(const TTalvConfig& cfg, int entry);
std::string SpectrumEntryFileName(const TTalvConfig& cfg, int entry);
bool IsEditableSpectrumEntry(int entry);  // 1..5

// A frequency typed by the user: k/M/G/Hz as ParseHz reads them; a bare number above 0 and below
// mhzLimit is megahertz (read as a decimal and scaled before rounding, so "2.4" is 2400000). dflt when
// the text is not a frequency.
int64_t ParseSpectrumValue(std::string_view text, int64_t mhzLimit, int64_t dflt);
// Applies an edited Spectrum entry; false with the user's message, the record untouched.
bool ApplySpectrumEntry(TTalvConfig& cfg, int entry, std::string_view text, std::string& message);

// ---------------------------------------------------------------------------------------------
// Listings

constexpr uint32_t kAttrDirectory = 16;
constexpr uint32_t kAttrNormal = 128;

// One entry as the host's find record carries it.
struct TFindEntry {
  std::string Name;
  uint32_t Attributes = kAttrNormal;
  int64_t Size = 0;       // files only
  uint64_t FileTime = 0;  // UTC FILETIME, for creation, access and last write alike
};

// A date-time value (local, days since 1899-12-30) as a UTC FILETIME; 0 or less means now; 0 when the
// conversion fails.
uint64_t DateTimeToUtcFileTime(double dateTime);

class TFindList {
 public:
  void AddDir(const std::string& name, double dateTime);
  void AddFile(const std::string& name, int64_t size, double dateTime);
  // An entry whose time is already a UTC FILETIME.
  void AddEntry(const std::string& name, bool isDir, int64_t size, uint64_t fileTimeUtc);
  // Copies the entry at the read position and moves past it; false when none is left.
  bool Next(TFindEntry& entry);
  int32_t Count() const { return static_cast<int32_t>(FEntries.size()); }
  const std::vector<TFindEntry>& Entries() const { return FEntries; }

 private:
  std::vector<TFindEntry> FEntries;
  size_t FPos = 0;
};
using TFindListPtr = std::unique_ptr<TFindList>;

// The recordings folder of the settings: ResolveRecordDir(RecordDir) beside the plug-in library.
std::string RecordingsFolder(const TTalvConfig& cfg);

TFindListPtr ListRootFolder(bool scanRunning, bool liveRunning);
TFindListPtr ListConfigFolder(const TTalvConfig& cfg);
TFindListPtr ListChannelsFolder(const TChannelRecArray& channels);
TFindListPtr ListChannelFolder(const std::string& recordingsFolder, int64_t hz);
TFindListPtr ListSpectrumFolder(const TTalvConfig& cfg);
TFindListPtr ListHopsFolder(const TTalvConfig& cfg);
TFindListPtr ListArchiveRoot(const std::string& recordingsFolder);
TFindListPtr ListArchiveFolder(const std::string& recordingsFolder, const std::string& subFolder);
// Each file name once, in the order FindRecordingPath resolves it (the first sub-folder that has it).
TFindListPtr ListAllRecordings(const std::string& recordingsFolder);
// Every entry of folder + mask, only folders or only files; empty for an empty folder text.
TFindListPtr ListRealFolder(const std::string& folder, const std::string& mask, bool foldersWanted);

// ---------------------------------------------------------------------------------------------
// Real paths of recording entries ("" when there is none)

std::string ChannelRecordingPath(const std::string& recordingsFolder, int64_t hz,
                                 const std::string& fileName);
// The sub-folder itself when fileName is empty.
std::string ArchiveRecordingPath(const std::string& recordingsFolder, const std::string& subFolder,
                                 const std::string& fileName);
// The first sub-folder (in find order) that holds fileName as a file.
std::string FindRecordingPath(const std::string& recordingsFolder, const std::string& fileName);
// The real file of a recording entry (kinds 14, 17, 19) of the parsed path; "" for other kinds.
std::string RecordingPathOf(const std::string& recordingsFolder, const TVfsPath& path);
