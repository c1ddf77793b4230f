#pragma once
// The plug-in's settings file and the plug-in-side text forms of the settings.
//
// The 32 settings of TTalvConfig live in a private-profile file "wfx_talvoran.ini", section
// "Talvoran", beside the plug-in library (or, when that folder is not writable, in "wfx_talvoran"
// under APPDATA). This unit finds that file, reads it into a record and writes a record back, and
// gives each key its display name, its edit prompt and its value text. The value text is also what the
// engine client sends as Key=Value body lines, so what is written here ConfigSetKey reads back
// unchanged: numbers with "." whatever the locale, fractions as the shortest text that reads back to
// the same value.
//
// The file is created holding the UTF-16LE byte order mark, so the profile functions keep values in
// any script. A save reports whether every key reached the file.
//
// The library-wide state (TPluginState: the settings record, the file's path and the stop-on-unload
// flag) is guarded by one lock. Callers never work on the shared record: LoadPluginConfig re-reads the
// file and hands back a snapshot, which the caller edits and passes to SavePluginConfig. So host
// threads and live-view threads can load at the same time. Loads and saves of the file take turns, so
// a load never reads half of a save's keys. The unload hook reads only the stop-on-unload flag, an
// atomic.
//
// Text is UTF-8 throughout; the export layer converts at the host's W and A strings.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "uFreqText.h"
#include "uTalvConfig.h"

constexpr const char* kIniFileName = "wfx_talvoran.ini";
constexpr const char* kIniSection = "Talvoran";
constexpr const char* kPluginName = "wfx_talvoran";  // also the APPDATA sub-folder and every caption
// Read when DeviceType is absent or empty; never written.
constexpr const char* kLegacyDeviceTypeKey = "SdrType";

// ---------------------------------------------------------------------------------------------
// Key table and display

// 32, and the key at index 0..31 in table order ("" for any other index).
int ConfigKeyCount();
std::string ConfigKeyName(int index);
// False for DeviceIndex, DeviceName and LastLiveHz (kept in the file and sent, but not listed);
// true for any other text.
bool IsShownConfigKey(std::string_view key);
// Display name and edit prompt of a key (compared exactly). A key outside the table: its own text as
// the name, an empty description.
std::string ConfigDisplayName(std::string_view key);
std::string ConfigDescription(std::string_view key);
// The value text of a key in the record ("" for a key outside the table): decimal integers, "1"/"0",
// the modulation name, fractions through FloatToShortText, GainDb "auto" when below 0.
std::string ConfigValueText(const TTalvConfig& cfg, std::string_view key);
// "NFM, WFM, AM, LSB, USB".
std::string ModulationList();
// The shortest "." text that reads back to the same double: 12 -> "12", 28.6 -> "28.6",
// 12.345 -> "12.345", 12345 -> "12345". Non-finite values give "0".
std::string FloatToShortText(double v);
// The channel folder name, "145.012500 MHz": the one FormatMHz of the engine.
inline std::string FormatMHzExact(int64_t hz) {
  return FormatMHz(hz);
}
// The folder of the plug-in library itself (not the host program's), ending in a separator.
std::string PluginFolder();

// ---------------------------------------------------------------------------------------------
// The file

// Where the settings file lies: pluginFolder + kIniFileName when it exists or can be created there;
// otherwise appData (pluginFolder when empty) + "wfx_talvoran" + separator + kIniFileName, the folder
// created on the way (a failure is ignored). A file created here holds the UTF-16LE byte order mark.
std::string LocateIniFileIn(const std::string& pluginFolder, const std::string& appData);
// LocateIniFileIn(PluginFolder(), the APPDATA variable).
std::string LocateIniFile();

// Defaults, then every key of the file through ConfigSetKey (SdrType standing in for an absent or
// empty DeviceType). A missing file gives the defaults. True when the file could be read.
bool LoadConfigFromIni(TTalvConfig& cfg, const std::string& path);
// All 32 keys in table order; false when any write failed (the caller tells the user).
bool SaveConfigToIni(const TTalvConfig& cfg, const std::string& path);

// ---------------------------------------------------------------------------------------------
// Library-wide state

class TPluginState {
 public:
  TPluginState();

  // Finds the settings file afresh (LocateIniFile) and keeps its path.
  void LocateIni();
  // Keeps path as the settings file (tests; a host that names its own).
  void SetIniPath(const std::string& path);
  std::string IniPath() const;

  // Locates the file when no path is known yet, re-reads it into the library's record, refreshes the
  // stop-on-unload flag and returns a copy of the record.
  TTalvConfig Load();
  // Locates the file when no path is known yet and writes cfg to it; on success cfg also becomes the
  // library's record. False when the file could not be written.
  bool Save(const TTalvConfig& cfg);
  // A copy of the library's record as last loaded or saved (the defaults before that).
  TTalvConfig Snapshot() const;
  // StopEngineOnUnload as last loaded or saved; safe during unload.
  bool StopOnUnload() const { return FStopOnUnload.load(); }

 private:
  mutable std::mutex FLock;
  std::mutex FFileLock;  // one load or save of the file at a time (taken before FLock, never inside it)
  std::string FIniPath;
  TTalvConfig FConfig;
  std::atomic<bool> FStopOnUnload{true};
};

// The one state of the loaded library.
TPluginState& PluginState();
// PluginState().Load() / .Save(cfg).
TTalvConfig LoadPluginConfig();
bool SavePluginConfig(const TTalvConfig& cfg);
