#include "uPluginConfig.h"

#include <cmath>

#include "pFile.h"
#include "pFind.h"
#include "pFs.h"
#include "pIniFile.h"
#include "pSystem.h"

// ---------------------------------------------------------------------------------------------
// Key table

namespace {

struct TKeyRow {
  const char* DisplayName;
  const char* Description;
};

// Display name and prompt per key, in TalvConfigKeys order. The Modulation prompt gets the list
// appended (ConfigDescription).
const TKeyRow kKeyRows[TalvConfigKeyCount] = {
    {"Device Type", "rtlsdr or hackrf"},
    {"Device Index", "Fallback index when no id is stored"},
    {"Device", "Which receiver to use. Stored as its id, which survives replugging - a USB index does not"},
    {"Device Name", ""},
    {"Frequency Start", "Start of the scanned range (k/M/G allowed)"},
    {"Frequency Stop", "End of the scanned range (k/M/G allowed)"},
    {"Sample Rate", "Sample rate per hop, RTL-SDR max 2.4M"},
    {"Modulation", "One of: "},
    {"SNR Threshold", "dB above the noise floor to count as a signal"},
    {"Frequency Grid", "Channel raster, e.g. 12500 or 25k"},
    {"Gain", "Tuner gain in dB, or \"auto\""},
    {"Frequency Correction", "Crystal error in ppm"},
    {"Audio Recording", "1 = record, 0 = detect only"},
    {"Recording Folder", "Where WAV files are written"},
    {"Max Parallel Channels", "Channels recorded at once, 0 = unlimited"},
    {"Squelch Hang Time", "Keep recording/listening this long after the signal drops"},
    {"Min Recording Length", "Discard recordings shorter than this"},
    {"FFT Size", "Power of two, larger = finer resolution"},
    {"FFT Averaging", "Averaged FFT segments per hop"},
    {"Tuner Settle Time", "Dwell after retuning before sampling"},
    {"Channel Refresh",
     "Seconds between automatic panel refreshes while the Channels folder is open and a scan runs, 0 = off"},
    {"Audio Sample Rate", "Sample rate of the recorded WAV files, e.g. 48000"},
    {"Max Dwell",
     "How long to stay on one hop recording before sweeping on, 0 = until it goes quiet (automatic when the "
     "range is one hop)"},
    {"IF Recording",
     "1 also writes the raw baseband of each dwell as an IQ WAV - roughly 8 MB per second at 2 MS/s"},
    {"Thumbnails For All WAV", "1 = spectrogram thumbnail for every .wav, 0 = only own recordings"},
    {"Merge Channels", "1 = one channel per signal, 0 = one per grid slot that exceeds the threshold"},
    {"Last Live Frequency", "Remembered so the Live Audio dialog opens on it again"},
    {"HackRF LNA Gain", "RF stage, 0..40 dB in 8 dB steps - raise for weak signals"},
    {"HackRF VGA Gain", "Baseband stage, 0..62 dB in 2 dB steps - sets the noise floor level"},
    {"HackRF Front-End Amp", "1 = extra 14 dB front-end amplifier, 0 = off (off unless the band is quiet)"},
    {"HackRF Bias Tee", "1 = 3.3 V on the antenna port for an active antenna, 0 = off"},
    {"Stop Engine On Unload", "1 = quit the engine when the plugin is unloaded, 0 = let a scan keep running"},
};

int KeyIndex(std::string_view key) {
  for (int i = 0; i < TalvConfigKeyCount; ++i)
    if (key == TalvConfigKeys[i]) return i;
  return -1;
}

std::string Dec(int64_t v) {
  return Int64ToWide(v);
}
std::string Flag(bool v) {
  return v ? "1" : "0";
}

}  // namespace

int ConfigKeyCount() {
  return TalvConfigKeyCount;
}

std::string ConfigKeyName(int index) {
  return (index >= 0 && index < TalvConfigKeyCount) ? TalvConfigKeys[index] : "";
}

bool IsShownConfigKey(std::string_view key) {
  return key != "DeviceIndex" && key != "DeviceName" && key != "LastLiveHz";
}

std::string ConfigDisplayName(std::string_view key) {
  int i = KeyIndex(key);
  return i < 0 ? std::string(key) : kKeyRows[i].DisplayName;
}

std::string ConfigDescription(std::string_view key) {
  int i = KeyIndex(key);
  if (i < 0) return "";
  std::string d = kKeyRows[i].Description;
  if (key == "Modulation") d += ModulationList();
  return d;
}

std::string ModulationList() {
  return "NFM, WFM, AM, LSB, USB";
}

std::string FloatToShortText(double v) {
  if (!std::isfinite(v)) return "0";
  if (v == 0) return "0";  // also -0
  return FormatPoint(v, -1);
}

std::string ConfigValueText(const TTalvConfig& c, std::string_view key) {
  switch (KeyIndex(key)) {
    case 0:
      return c.DeviceType;
    case 1:
      return Dec(c.DeviceIndex);
    case 2:
      return c.DeviceSerial;
    case 3:
      return c.DeviceName;
    case 4:
      return Dec(c.StartHz);
    case 5:
      return Dec(c.StopHz);
    case 6:
      return Dec(c.SampleRate);
    case 7:
      return ModulationName(c.Modulation);
    case 8:
      return FloatToShortText(c.SnrDb);
    case 9:
      return Dec(c.GridHz);
    case 10:
      return c.GainDb < 0 ? "auto" : FloatToShortText(c.GainDb);
    case 11:
      return Dec(c.PpmCorrection);
    case 12:
      return Flag(c.RecordAudio);
    case 13:
      return c.RecordDir;
    case 14:
      return Dec(c.MaxParallel);
    case 15:
      return Dec(c.HangTimeMs);
    case 16:
      return Dec(c.MinRecordMs);
    case 17:
      return Dec(c.NFft);
    case 18:
      return Dec(c.AvgSegments);
    case 19:
      return Dec(c.SettleMs);
    case 20:
      return Dec(c.RefreshSec);
    case 21:
      return Dec(c.AudioRate);
    case 22:
      return Dec(c.MaxDwellMs);
    case 23:
      return Flag(c.IfRecording);
    case 24:
      return Flag(c.ThumbAllWav);
    case 25:
      return Flag(c.MergeChannels);
    case 26:
      return Dec(c.LastLiveHz);
    case 27:
      return Dec(c.HackRfLnaDb);
    case 28:
      return Dec(c.HackRfVgaDb);
    case 29:
      return Flag(c.HackRfAmp);
    case 30:
      return Flag(c.HackRfBiasTee);
    case 31:
      return Flag(c.StopEngineOnUnload);
    default:
      return "";
  }
}

std::string PluginFolder() {
  return plat::ModuleDir();
}

// ---------------------------------------------------------------------------------------------
// The file

namespace {

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder;
  return folder + plat::PathSeparator();
}

// An existing file is used as it is; a new one gets the UTF-16LE mark.
bool UseOrCreate(const std::string& path) {
  if (plat::FileExists(path)) return true;
  return plat::TouchFile(path) && plat::IniCreateUnicode(path);
}

}  // namespace

std::string LocateIniFileIn(const std::string& pluginFolder, const std::string& appData) {
  std::string candidate = WithSeparator(pluginFolder) + kIniFileName;
  if (UseOrCreate(candidate)) return candidate;
  std::string base = appData.empty() ? pluginFolder : appData;
  std::string folder = WithSeparator(base) + kPluginName;
  plat::MakeDirectory(folder);  // an existing folder, or a failure, is ignored
  std::string path = folder + plat::PathSeparator() + kIniFileName;
  UseOrCreate(path);
  return path;
}

std::string LocateIniFile() {
  return LocateIniFileIn(PluginFolder(), plat::GetEnv("APPDATA"));
}

bool LoadConfigFromIni(TTalvConfig& cfg, const std::string& path) {
  ConfigDefaults(cfg);
  if (path.empty() || !plat::FileExists(path)) return false;
  std::string value;
  for (int i = 0; i < TalvConfigKeyCount; ++i)
    if (plat::IniReadString(path, kIniSection, TalvConfigKeys[i], value) && !value.empty())
      ConfigSetKey(cfg, TalvConfigKeys[i], value);
  if (!plat::IniReadString(path, kIniSection, "DeviceType", value) || value.empty()) {
    if (plat::IniReadString(path, kIniSection, kLegacyDeviceTypeKey, value) && !value.empty())
      ConfigSetKey(cfg, "DeviceType", value);
  }
  return true;
}

bool SaveConfigToIni(const TTalvConfig& cfg, const std::string& path) {
  if (path.empty()) return false;
  // A file made by someone else's hand stays as it is; a missing one is made Unicode first.
  if (!plat::FileExists(path) && !plat::IniCreateUnicode(path)) return false;
  bool ok = true;
  for (int i = 0; i < TalvConfigKeyCount; ++i)
    if (!plat::IniWriteString(path, kIniSection, TalvConfigKeys[i], ConfigValueText(cfg, TalvConfigKeys[i])))
      ok = false;
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Library-wide state

TPluginState::TPluginState() {
  FStopOnUnload = FConfig.StopEngineOnUnload;
}

void TPluginState::LocateIni() {
  std::string path = LocateIniFile();  // file system work outside the lock
  std::lock_guard<std::mutex> lock(FLock);
  FIniPath = path;
}

void TPluginState::SetIniPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(FLock);
  FIniPath = path;
}

std::string TPluginState::IniPath() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FIniPath;
}

TTalvConfig TPluginState::Load() {
  std::string path = IniPath();
  if (path.empty()) {
    LocateIni();
    path = IniPath();
  }
  TTalvConfig cfg;
  std::lock_guard<std::mutex> file(FFileLock);
  LoadConfigFromIni(cfg, path);
  std::lock_guard<std::mutex> lock(FLock);
  FConfig = cfg;
  FStopOnUnload = cfg.StopEngineOnUnload;
  return cfg;
}

bool TPluginState::Save(const TTalvConfig& cfg) {
  std::string path = IniPath();
  if (path.empty()) {
    LocateIni();
    path = IniPath();
  }
  std::lock_guard<std::mutex> file(FFileLock);
  if (!SaveConfigToIni(cfg, path)) return false;
  std::lock_guard<std::mutex> lock(FLock);
  FConfig = cfg;
  FStopOnUnload = cfg.StopEngineOnUnload;
  return true;
}

TTalvConfig TPluginState::Snapshot() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FConfig;
}

TPluginState& PluginState() {
  static TPluginState state;
  return state;
}

TTalvConfig LoadPluginConfig() {
  return PluginState().Load();
}

bool SavePluginConfig(const TTalvConfig& cfg) {
  return PluginState().Save(cfg);
}
