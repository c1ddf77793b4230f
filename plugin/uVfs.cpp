#include "uVfs.h"

#include <cmath>
#include <limits>
#include <set>

#include "pFile.h"
#include "pFind.h"
#include "pSystem.h"
#include "uPluginConfig.h"

// ---------------------------------------------------------------------------------------------
// Paths

namespace {

constexpr char kVSep = '\\';

// A component no real path may be built from: empty, "." or "..", or holding "/", ":" or a control
// character (which no listed name carries).
bool IsUnsafeComponent(std::string_view c) {
  if (c.empty() || c == "." || c == "..") return true;
  for (char ch : c)
    if (ch == '/' || ch == ':' || static_cast<unsigned char>(ch) < 32) return true;
  return false;
}

// Every component between the outer backslashes is safe.
bool AllComponentsSafe(std::string_view path) {
  size_t b = 0, e = path.size();
  while (b < e && path[b] == kVSep) ++b;
  while (e > b && path[e - 1] == kVSep) --e;
  if (b == e) return true;
  std::string_view inner = path.substr(b, e - b);
  size_t start = 0;
  for (;;) {
    size_t sep = inner.find(kVSep, start);
    if (IsUnsafeComponent(
            inner.substr(start, sep == std::string_view::npos ? std::string_view::npos : sep - start)))
      return false;
    if (sep == std::string_view::npos) return true;
    start = sep + 1;
  }
}

std::string_view BeforeEquals(std::string_view name) {
  size_t p = name.find(" = ");
  return TrimText(p == std::string_view::npos ? name : name.substr(0, p));
}

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

}  // namespace

bool SplitFirstComponent(std::string_view path, std::string& first, std::string& rest) {
  size_t b = 0, e = path.size();
  while (b < e && path[b] == kVSep) ++b;
  while (e > b && path[e - 1] == kVSep) --e;
  first.clear();
  rest.clear();
  if (b == e) return false;
  std::string_view inner = path.substr(b, e - b);
  size_t sep = inner.find(kVSep);
  if (sep == std::string_view::npos) {
    first = std::string(inner);
  } else {
    first = std::string(inner.substr(0, sep));
    rest = std::string(inner.substr(sep + 1));
  }
  return true;
}

bool ParseChannelFolderName(std::string_view name, int64_t& hz) {
  std::string_view t = TrimText(name);
  if (t.size() > 4 && AsciiUpper(t.substr(t.size() - 4)) == " MHZ") t = TrimText(t.substr(0, t.size() - 4));
  size_t dot = t.find('.');
  if (dot == std::string_view::npos) return false;
  std::string_view whole = t.substr(0, dot), frac = t.substr(dot + 1);
  bool negative = !whole.empty() && whole[0] == '-';
  if (negative) whole.remove_prefix(1);
  if (!AllDigits(whole) || frac.size() != 6 || !AllDigits(frac)) return false;
  int64_t w = 0, f = 0;
  if (!ParseInt64(whole, w) || !ParseInt64(frac, f)) return false;
  if (w > (std::numeric_limits<int64_t>::max() - f) / 1000000) return false;
  int64_t v = w * 1000000 + f;
  hz = negative ? -v : v;
  return true;
}

std::string ConfigKeyFromEntryName(std::string_view entryName) {
  std::string_view shown = BeforeEquals(entryName);
  for (int i = 0; i < ConfigKeyCount(); ++i) {
    std::string key = ConfigKeyName(i);
    if (IsShownConfigKey(key) && ConfigDisplayName(key) == shown) return key;
  }
  return "";
}

uint8_t SpectrumEntryFromName(std::string_view entryName) {
  std::string_view shown = BeforeEquals(entryName);
  for (int e = 1; e <= 6; ++e)
    if (SpectrumEntryName(e) == shown) return static_cast<uint8_t>(e);
  return 0;
}

namespace {
void ParseInto(std::string_view path, TVfsPath& p);
}  // namespace

void ParseVfsPath(std::string_view path, TVfsPath& p) {
  ParseInto(path, p);
  if (p.Kind == vkInvalid) p = TVfsPath{};  // an invalid path carries no fields
}

namespace {

void ParseInto(std::string_view path, TVfsPath& p) {
  p = TVfsPath{};
  std::string first, rest;
  if (!SplitFirstComponent(path, first, rest)) {
    p.Kind = vkRoot;
    return;
  }
  if (!AllComponentsSafe(path)) return;  // vkInvalid
  std::string sub, rest2;
  if (first == vfs::kConfig) {
    if (rest.empty()) {
      p.Kind = vkConfig;
    } else {
      p.Key = ConfigKeyFromEntryName(rest);
      if (!p.Key.empty()) p.Kind = vkConfigEntry;
    }
  } else if (first == vfs::kSpectrum) {
    if (rest.empty()) {
      p.Kind = vkSpectrum;
      return;
    }
    SplitFirstComponent(rest, sub, rest2);
    if (sub == vfs::kHops) {
      p.Kind = rest2.empty() ? vkHops : vkHop;
    } else if (sub == vfs::kLiveViewTicket && rest2.empty()) {
      p.Kind = vkLiveView;
    } else if (sub == vfs::kLiveAudioTicket && rest2.empty()) {
      p.Kind = vkLiveMulti;
    } else {
      p.Entry = SpectrumEntryFromName(rest);
      if (p.Entry != 0) p.Kind = vkSpectrumEntry;
    }
  } else if (first == vfs::kArchive) {
    if (rest.empty()) {
      p.Kind = vkArchive;
      return;
    }
    SplitFirstComponent(rest, sub, rest2);
    p.Folder = sub;
    bool all = sub == vfs::kAllRecordings;
    if (rest2.empty()) {
      p.Kind = all ? vkAllRecordings : vkArchiveFolder;
    } else if (rest2.find(kVSep) == std::string::npos) {
      p.FileName = rest2;
      p.Kind = all ? vkAllRecordingsFile : vkArchiveFile;
    }
  } else if (first == vfs::kChannels) {
    if (rest.empty()) {
      p.Kind = vkChannels;
      return;
    }
    SplitFirstComponent(rest, sub, rest2);
    if (!ParseChannelFolderName(sub, p.Hz)) {
      p.Hz = 0;
      return;
    }
    if (rest2.empty()) {
      p.Kind = vkChannel;
    } else if (rest2 == vfs::kLiveViewTicket) {
      p.Kind = vkLiveView;
    } else if (rest2 == vfs::kLiveAudioTicket) {
      p.Kind = vkLiveAudio;
    } else if (rest2.find(kVSep) == std::string::npos) {
      p.FileName = rest2;
      p.Kind = vkChannelFile;
    }
  } else if (rest.empty()) {
    if (first == vfs::kStatus) {
      p.Kind = vkStatus;
    } else if (first == vfs::kStartScan || first == vfs::kStopScan || first == vfs::kLiveAudio ||
               first == vfs::kStopLiveAudio) {
      p.Command = first;
      p.Kind = vkCommand;
    }
  }
}

}  // namespace

TVfsPath ParseVfsPath(std::string_view path) {
  TVfsPath p;
  ParseVfsPath(path, p);
  return p;
}

// ---------------------------------------------------------------------------------------------
// Entry names

std::string SafeFileName(std::string_view text) {
  std::string r(text);
  for (char& c : r) {
    switch (c) {
      case '"':
      case '*':
      case '/':
      case ':':
      case '<':
      case '>':
      case '?':
      case '\\':
      case '|':
        c = '_';
        break;
      default:
        break;
    }
  }
  return r;
}

namespace {

std::string ShownConfigValue(const TTalvConfig& c, std::string_view key) {
  std::string v = ConfigValueText(c, key);
  auto onOff = [](bool b, const char* on) { return std::string(b ? on : "off"); };
  if (key == "GainDb") return c.GainDb < 0 ? "auto" : v + " dB";
  if (key == "RecordAudio") return onOff(c.RecordAudio, "on");
  if (key == "ThumbAllWav") return c.ThumbAllWav ? "all .wav" : "own recordings";
  if (key == "MergeChannels") return c.MergeChannels ? "one per signal" : "one per grid slot";
  if (key == "HackRfLnaDb" || key == "HackRfVgaDb" || key == "SnrDb") return v + " dB";
  if (key == "HackRfAmp") return onOff(c.HackRfAmp, "on (+14 dB)");
  if (key == "HackRfBiasTee") return onOff(c.HackRfBiasTee, "on (3.3 V)");
  if (key == "RecordDir") return v.empty() ? "(not set)" : v;
  if (key == "StartHz" || key == "StopHz" || key == "GridHz" || key == "SampleRate")
    return FormatHz(ParseIntDef(v, 0));
  if (key == "HangTimeMs" || key == "MinRecordMs" || key == "SettleMs") return v + " ms";
  if (key == "PpmCorrection") return v + " ppm";
  if (key == "MaxParallel") return c.MaxParallel < 1 ? "unlimited" : v;
  if (key == "DeviceSerial") {
    if (c.DeviceSerial.empty()) return "first device (index " + Int64ToWide(c.DeviceIndex) + ")";
    return c.DeviceName.empty() ? c.DeviceSerial : c.DeviceSerial + " - " + c.DeviceName;
  }
  return v;
}

int HopCount(const TTalvConfig& c) {
  TScanHopArray hops;
  BuildHops(hops, c.StartHz, c.StopHz, static_cast<double>(c.SampleRate), 0.075);
  return static_cast<int>(hops.size());
}

}  // namespace

std::string ConfigEntryValueText(const TTalvConfig& cfg, std::string_view key) {
  return ConfigDisplayName(key) + " = " + SafeFileName(ShownConfigValue(cfg, key));
}

int64_t ScanRangeCentre(const TTalvConfig& cfg) {
  return (cfg.StartHz + cfg.StopHz) / 2;
}
int64_t ScanRangeWidth(const TTalvConfig& cfg) {
  return cfg.StopHz - cfg.StartHz;
}

std::string SpectrumEntryName(int entry) {
  switch (entry) {
    case 1:
      return "Center Frequency";
    case 2:
      return "Bandwidth";
    case 3:
      return "Start Frequency";
    case 4:
      return "Stop Frequency";
    case 5:
      return "Sample Rate";
    case 6:
      return "Hops";
    default:
      return "";
  }
}

std::string SpectrumEntryHint(int entry) {
  switch (entry) {
    case 1:
      return "Centre of the scanned range; keeps the bandwidth and moves start/stop";
    case 2:
      return "Width of the scanned range; keeps the centre and moves start/stop";
    case 3:
      return "Lower edge of the scanned range (k/M/G allowed)";
    case 4:
      return "Upper edge of the scanned range (k/M/G allowed)";
    case 5:
      return "Sample rate per hop, RTL-SDR max 2.4M";
    default:
      return "";
  }
}

std::string SpectrumEntryValue(const TTalvConfig& cfg, int entry) {
  switch (entry) {
    case 1:
      return FormatHz(ScanRangeCentre(cfg));
    case 2:
      return FormatHz(ScanRangeWidth(cfg));
    case 3:
      return FormatHz(cfg.StartHz);
    case 4:
      return FormatHz(cfg.StopHz);
    case 5:
      return FormatHz(cfg.SampleRate);
    case 6:
      return Int64ToWide(HopCount(cfg));
    default:
      return "";
  }
}

std::string SpectrumEntryFileName(const TTalvConfig& cfg, int entry) {
  return SpectrumEntryName(entry) + " = " + SafeFileName(SpectrumEntryValue(cfg, entry));
}

bool IsEditableSpectrumEntry(int entry) {
  return entry >= 1 && entry <= 5;
}

int64_t ParseSpectrumValue(std::string_view text, int64_t mhzLimit, int64_t dflt) {
  std::string_view t = TrimText(text);
  bool hasUnit = false;
  for (char c : t) {
    char u = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (u == 'G' || u == 'H' || u == 'K' || u == 'M') hasUnit = true;
  }
  if (!t.empty() && !hasUnit) {
    // A bare number: megahertz when above 0 and below the limit, scaled before it is rounded.
    double v = ParseFloatDef(t, std::numeric_limits<double>::quiet_NaN());
    if (v > 0 && v < static_cast<double>(mhzLimit)) return RoundHalfEven(v * 1e6);
  }
  return ParseHz(t, dflt);
}

bool ApplySpectrumEntry(TTalvConfig& cfg, int entry, std::string_view text, std::string& message) {
  message.clear();
  int64_t v = ParseSpectrumValue(text, entry == 5 ? 201 : 9001, -1);
  if (v < 0 && entry != 0) {
    message = "Not a frequency. Use plain Hz or a k/M/G suffix, e.g. 145.5M.";
    return false;
  }
  int64_t start = 0, stop = 0;
  switch (entry) {
    case 1: {
      int64_t width = ScanRangeWidth(cfg);
      start = v - width / 2;
      stop = start + width;
      break;
    }
    case 2:
      if (v < 1000) {
        message = "Bandwidth must be at least 1 kHz.";
        return false;
      }
      start = ScanRangeCentre(cfg) - v / 2;
      stop = start + v;
      break;
    case 3:
      start = v;
      stop = cfg.StopHz;
      break;
    case 4:
      start = cfg.StartHz;
      stop = v;
      break;
    case 5:
      if (v > 99999) {
        cfg.SampleRate = v;
        return true;
      }
      message = "Sample rate must be at least 100 kHz.";
      return false;
    default:
      message = "This entry is read-only.";
      return false;
  }
  if (start < 0) {
    message = "That would put the range below 0 Hz.";
    return false;
  }
  if (start >= stop) {
    message = "The stop frequency must be above the start frequency.";
    return false;
  }
  cfg.StartHz = start;
  cfg.StopHz = stop;
  return true;
}

// ---------------------------------------------------------------------------------------------
// Listings

uint64_t DateTimeToUtcFileTime(double dateTime) {
  if (dateTime <= 0) dateTime = plat::LocalDateTimeNow();
  uint64_t ft = 0;
  return plat::LocalDateTimeToFileTime(dateTime, ft) ? ft : 0;
}

void TFindList::AddDir(const std::string& name, double dateTime) {
  AddEntry(name, true, 0, DateTimeToUtcFileTime(dateTime));
}

void TFindList::AddFile(const std::string& name, int64_t size, double dateTime) {
  AddEntry(name, false, size, DateTimeToUtcFileTime(dateTime));
}

void TFindList::AddEntry(const std::string& name, bool isDir, int64_t size, uint64_t fileTimeUtc) {
  TFindEntry e;
  e.Name = name;
  e.Attributes = isDir ? kAttrDirectory : kAttrNormal;
  e.Size = isDir ? 0 : size;
  e.FileTime = fileTimeUtc;
  FEntries.push_back(std::move(e));
}

bool TFindList::Next(TFindEntry& entry) {
  if (FPos >= FEntries.size()) return false;
  entry = FEntries[FPos++];
  return true;
}

std::string RecordingsFolder(const TTalvConfig& cfg) {
  return ResolveRecordDir(cfg.RecordDir);
}

namespace {

// A real file's time: its last write as a local date-time, back to UTC; now when it does not convert.
void AddFound(TFindList& list, const plat::TFoundEntry& f, double now) {
  double dt = 0;
  if (!plat::FileTimeToLocalDateTime(f.LastWriteUtc, dt)) dt = now;
  if (f.IsDirectory)
    list.AddDir(f.Name, dt);
  else
    list.AddFile(f.Name, f.Size, dt);
}

void AddRealEntries(TFindList& list, const std::string& folder, const std::string& mask, bool foldersWanted,
                    double now) {
  if (folder.empty()) return;
  std::vector<plat::TFoundEntry> found;
  plat::FindEntries(folder, mask, found);
  for (const plat::TFoundEntry& f : found)
    if (f.IsDirectory == foldersWanted) AddFound(list, f, now);
}

std::vector<std::string> SubFolders(const std::string& recordingsFolder) {
  std::vector<std::string> names;
  std::vector<plat::TFoundEntry> found;
  if (recordingsFolder.empty()) return names;
  plat::FindEntries(recordingsFolder, "*", found);
  for (const plat::TFoundEntry& f : found)
    if (f.IsDirectory) names.push_back(f.Name);
  return names;
}

}  // namespace

TFindListPtr ListRootFolder(bool scanRunning, bool liveRunning) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  for (const char* f : {vfs::kConfig, vfs::kSpectrum, vfs::kChannels, vfs::kArchive}) list->AddDir(f, now);
  list->AddFile(scanRunning ? vfs::kStopScan : vfs::kStartScan, 0, now);
  list->AddFile(liveRunning ? vfs::kStopLiveAudio : vfs::kLiveAudio, 0, now);
  list->AddFile(vfs::kStatus, 0, now);
  return list;
}

TFindListPtr ListConfigFolder(const TTalvConfig& cfg) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  for (int i = 0; i < ConfigKeyCount(); ++i) {
    std::string key = ConfigKeyName(i);
    if (IsShownConfigKey(key)) list->AddFile(ConfigEntryValueText(cfg, key), 0, now);
  }
  return list;
}

TFindListPtr ListChannelsFolder(const TChannelRecArray& channels) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  for (const TChannelRec& r : channels) list->AddDir(FormatMHzExact(r.Hz), r.Active ? now : r.LastSeen);
  return list;
}

TFindListPtr ListChannelFolder(const std::string& recordingsFolder, int64_t hz) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  list->AddFile(vfs::kLiveViewTicket, 0, now);
  list->AddFile(vfs::kLiveAudioTicket, 0, now);
  if (!recordingsFolder.empty())
    AddRealEntries(*list, JoinPath(recordingsFolder, FormatMHzExact(hz)), "*.wav", false, now);
  return list;
}

TFindListPtr ListSpectrumFolder(const TTalvConfig& cfg) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  list->AddDir(vfs::kHops, now);
  list->AddFile(vfs::kLiveViewTicket, 0, now);
  list->AddFile(vfs::kLiveAudioTicket, 0, now);
  for (int e = 1; e <= 6; ++e) list->AddFile(SpectrumEntryFileName(cfg, e), 0, now);
  return list;
}

TFindListPtr ListHopsFolder(const TTalvConfig& cfg) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  TScanHopArray hops;
  BuildHops(hops, cfg.StartHz, cfg.StopHz, static_cast<double>(cfg.SampleRate), 0.075);
  for (size_t i = 0; i < hops.size(); ++i) {
    std::string n = Int64ToWide(static_cast<int64_t>(i + 1));
    if (n.size() < 2) n.insert(0, 1, '0');
    const TScanHop& h = hops[i];
    list->AddFile("Hop " + n + " = " + FormatHz(h.CenterHz) + "  [" + FormatHz(h.LoHz) + " - " +
                      FormatHz(h.HiHz) + ", " + FormatHz(h.WidthHz) + "]",
                  0, now);
  }
  return list;
}

TFindListPtr ListRealFolder(const std::string& folder, const std::string& mask, bool foldersWanted) {
  auto list = std::make_unique<TFindList>();
  AddRealEntries(*list, folder, mask, foldersWanted, plat::LocalDateTimeNow());
  return list;
}

TFindListPtr ListArchiveRoot(const std::string& recordingsFolder) {
  double now = plat::LocalDateTimeNow();
  auto list = std::make_unique<TFindList>();
  AddRealEntries(*list, recordingsFolder, "*", true, now);
  if (list->Count() > 0) list->AddDir(vfs::kAllRecordings, now);
  return list;
}

TFindListPtr ListArchiveFolder(const std::string& recordingsFolder, const std::string& subFolder) {
  if (recordingsFolder.empty()) return std::make_unique<TFindList>();
  return ListRealFolder(JoinPath(recordingsFolder, subFolder), "*", false);
}

TFindListPtr ListAllRecordings(const std::string& recordingsFolder) {
  auto list = std::make_unique<TFindList>();
  double now = plat::LocalDateTimeNow();
  std::set<std::string> seen;
  for (const std::string& sub : SubFolders(recordingsFolder)) {
    std::vector<plat::TFoundEntry> found;
    plat::FindEntries(JoinPath(recordingsFolder, sub), "*", found);
    for (const plat::TFoundEntry& f : found)
      if (!f.IsDirectory && seen.insert(f.Name).second) AddFound(*list, f, now);
  }
  return list;
}

// ---------------------------------------------------------------------------------------------
// Real paths

std::string ChannelRecordingPath(const std::string& recordingsFolder, int64_t hz,
                                 const std::string& fileName) {
  if (recordingsFolder.empty() || fileName.empty()) return "";
  return JoinPath(JoinPath(recordingsFolder, FormatMHzExact(hz)), fileName);
}

std::string ArchiveRecordingPath(const std::string& recordingsFolder, const std::string& subFolder,
                                 const std::string& fileName) {
  if (recordingsFolder.empty() || subFolder.empty()) return "";
  std::string dir = JoinPath(recordingsFolder, subFolder);
  return fileName.empty() ? dir : JoinPath(dir, fileName);
}

std::string FindRecordingPath(const std::string& recordingsFolder, const std::string& fileName) {
  if (recordingsFolder.empty() || fileName.empty()) return "";
  for (const std::string& sub : SubFolders(recordingsFolder)) {
    std::string path = JoinPath(JoinPath(recordingsFolder, sub), fileName);
    if (plat::FileExists(path)) return path;
  }
  return "";
}

std::string RecordingPathOf(const std::string& recordingsFolder, const TVfsPath& path) {
  switch (path.Kind) {
    case vkChannelFile:
      return ChannelRecordingPath(recordingsFolder, path.Hz, path.FileName);
    case vkArchiveFile:
      return ArchiveRecordingPath(recordingsFolder, path.Folder, path.FileName);
    case vkAllRecordingsFile:
      return FindRecordingPath(recordingsFolder, path.FileName);
    default:
      return "";
  }
}
