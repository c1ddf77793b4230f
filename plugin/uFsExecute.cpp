#include "uFsExecute.h"

#include <utility>

#include "uEngineState.h"
#include "uFsResults.h"
#include "uHostUi.h"
#include "uIpcClient.h"
#include "uPluginConfig.h"
#include "uRefreshTimer.h"
#include "uVfs.h"

namespace {

const char* const kCrLf2 = "\r\n\r\n";

std::string DialogTitle(const std::string& name) {
  return std::string(kPluginCaption) + " - " + name;
}

void Warn(uintptr_t owner, const std::string& text, uint32_t style) {
  ShowMessageBox(owner, text, kPluginCaption, style);
}

bool SameTextNoCase(std::string_view a, std::string_view b) {
  return AsciiLower(a) == AsciiLower(b);
}

// Saves the edited record; when the file cannot be written the user is told and the edit counts as
// refused (it would be lost at the next reload).
bool SaveOrTell(uintptr_t owner, const TTalvConfig& cfg) {
  if (SavePluginConfig(cfg)) return true;
  Warn(owner, "Could not save the settings to " + PluginState().IniPath() + ".", kMbIconError);
  return false;
}

int Symlink(std::string& remoteName, const char* folder) {
  remoteName = folder;
  return kFsExecSymlink;
}

void RefuseValue(uintptr_t owner, std::string_view key) {
  Warn(owner, "Not a valid value for " + ConfigDisplayName(key) + "." + kCrLf2 + ConfigDescription(key),
       kMbIconWarning);
}

int EditSetting(uintptr_t owner, TTalvConfig& cfg, const std::string& key, std::string& remoteName) {
  if (key == "DeviceSerial" || key == "DeviceIndex") return ChooseDevice(owner, cfg, remoteName);
  const bool frequency = IsFrequencyKey(key);
  std::string answer =
      frequency ? FormatHz(ParseHz(ConfigValueText(cfg, key), 0)) : ConfigValueText(cfg, key);
  if (!AskText(DialogTitle(ConfigDisplayName(key)), ConfigDescription(key), answer)) return kFsExecOk;
  if (frequency) {
    answer = Int64ToWide(ParseSpectrumValue(answer, FrequencyKeyMhzLimit(key), 0));
    if (!CheckFrequencyValue(owner, cfg, key, answer)) return kFsExecOk;
  }
  // A sample rate of 0 or below breaks every later start of a scan; a number that does not read
  // would be dropped without a word.
  const bool badRate = key == "SampleRate" && ParseHz(answer, 0) <= 0;
  if (badRate || !SettingTextReadable(key, answer) || !ConfigSetKey(cfg, key, answer)) {
    RefuseValue(owner, key);
    return kFsExecOk;
  }
  if (!SaveOrTell(owner, cfg)) return kFsExecOk;
  return Symlink(remoteName, "\\Config");
}

int EditSpectrumEntry(uintptr_t owner, TTalvConfig& cfg, int entry, std::string& remoteName) {
  if (!IsEditableSpectrumEntry(entry)) {
    Warn(owner, SpectrumEntryName(entry) + " is derived from the scan range and cannot be edited directly.",
         kMbIconInformation);
    return kFsExecOk;
  }
  std::string answer = SpectrumEntryValue(cfg, entry);
  if (!AskText(DialogTitle(SpectrumEntryName(entry)), SpectrumEntryHint(entry), answer)) return kFsExecOk;
  std::string message;
  if (!ApplySpectrumEntry(cfg, entry, answer, message)) {
    Warn(owner, message, kMbIconWarning);
    return kFsExecOk;
  }
  if (!SaveOrTell(owner, cfg)) return kFsExecOk;
  return Symlink(remoteName, "\\Spectrum");
}

int RunCommand(uintptr_t owner, TTalvConfig& cfg, const std::string& command, std::string& remoteName) {
  std::string error;
  if (command == vfs::kStartScan) {
    if (EngineStartScan(cfg, error)) return Symlink(remoteName, "\\");
    Warn(owner, "Could not start the scan:" + std::string(kCrLf2) + error, kMbIconError);
    return kFsExecOk;
  }
  if (command == vfs::kStopScan) {
    if (!EngineStopScan(error))
      Warn(owner, "Could not stop the scan:" + std::string(kCrLf2) + error, kMbIconError);
    return Symlink(remoteName, "\\");
  }
  if (command == vfs::kLiveAudio) return RunLiveAudioDialog(owner, cfg, remoteName);
  if (command == vfs::kStopLiveAudio) {
    if (!EngineStopLive(error))
      Warn(owner, "Could not stop live audio:" + std::string(kCrLf2) + error, kMbIconError);
    return Symlink(remoteName, "\\");
  }
  return kFsExecError;
}

std::string DeviceChooserPrompt(const TDeviceInfoArray& devices, const std::string& present) {
  std::string prompt = "Connected receivers:\r\n";
  for (const TDeviceInfo& d : devices) {
    prompt += SameTextNoCase(d.Kind, present) ? "  * " : "    ";
    prompt += d.Kind + ":" + std::to_string(d.Index) + "  " + d.Name;
    if (!d.Serial.empty()) prompt += "  id " + d.Serial;
    prompt += "\r\n";
  }
  prompt += "\r\nSDR Type is \"" + present + "\" - marked with *.\r\n";
  prompt += "Enter the id (preferred), \"kind:index\", or a bare index for that type.\r\n";
  prompt += "Choosing a receiver of another kind switches SDR Type with it.";
  return prompt;
}

std::string ProposedDevice(const TDeviceInfoArray& devices, const TTalvConfig& cfg,
                           const std::string& present) {
  if (!cfg.DeviceSerial.empty()) {
    for (const TDeviceInfo& d : devices)
      if (SameTextNoCase(d.Serial, cfg.DeviceSerial) && SameTextNoCase(d.Kind, present))
        return cfg.DeviceSerial;
  }
  for (const TDeviceInfo& d : devices) {
    if (!SameTextNoCase(d.Kind, present)) continue;
    return d.Serial.empty() ? d.Kind + ":" + std::to_string(d.Index) : d.Serial;
  }
  return devices.front().Serial;
}

const TDeviceInfo* MatchDevice(const TDeviceInfoArray& devices, const std::string& answer,
                               const std::string& present) {
  for (const TDeviceInfo& d : devices)
    if (!d.Serial.empty() && SameTextNoCase(d.Serial, answer)) return &d;
  for (const TDeviceInfo& d : devices)
    if (SameTextNoCase(d.Kind + ":" + std::to_string(d.Index), answer)) return &d;
  for (const TDeviceInfo& d : devices)
    if (SameTextNoCase(d.Kind, present) && std::to_string(d.Index) == answer) return &d;
  for (const TDeviceInfo& d : devices)
    if (std::to_string(d.Index) == answer) return &d;
  return nullptr;
}

}  // namespace

bool IsFrequencyKey(std::string_view key) {
  return key == "StartHz" || key == "StopHz" || key == "SampleRate";
}

int64_t FrequencyKeyMhzLimit(std::string_view key) {
  return key == "SampleRate" ? 201 : 9001;
}

bool CheckFrequencyValue(uintptr_t owner, const TTalvConfig& cfg, std::string_view key,
                         std::string_view text) {
  const int64_t hz = ParseHz(text, 0);
  std::string message;
  if ((key == "StartHz" || key == "StopHz") && hz < 1000000) {
    message =
        ConfigDisplayName(key) + " would be " + FormatHz(hz) + "." + kCrLf2 +
        "No supported receiver tunes below 1 MHz. Add a unit - 144M or 144 MHz - or type the full number "
        "in hertz.";
  } else if (key == "StopHz" && hz <= cfg.StartHz) {
    message = "Frequency Stop (" + FormatHz(hz) + ") has to be above Frequency Start (" +
              FormatHz(cfg.StartHz) + ").";
  } else if (key == "StartHz" && hz >= cfg.StopHz) {
    message = "Frequency Start (" + FormatHz(hz) + ") has to be below Frequency Stop (" +
              FormatHz(cfg.StopHz) + ").";
  } else {
    return true;
  }
  Warn(owner, message, kMbIconWarning);
  return false;
}

bool SettingTextReadable(std::string_view key, std::string_view text) {
  // The settings rules decide, not a second table of them: two records that differ in this field
  // take the text. A text the rules read gives both the same value; a text they ignore or refuse
  // leaves the two different. The two values are the first pair of probes that the key takes and
  // tells apart: numbers, then receiver kinds, then modulations. Free text and switch keys always
  // end equal.
  static const std::pair<const char*, const char*> kProbes[] = {
      {"1", "2"}, {"rtlsdr", "hackrf"}, {"NFM", "WFM"}};
  for (const auto& [first, second] : kProbes) {
    TTalvConfig a, b;
    if (!ConfigSetKey(a, key, first) || !ConfigSetKey(b, key, second) ||
        ConfigValueText(a, key) == ConfigValueText(b, key))
      continue;
    ConfigSetKey(a, key, text);
    ConfigSetKey(b, key, text);
    return ConfigValueText(a, key) == ConfigValueText(b, key);
  }
  return false;
}

int ChooseDevice(uintptr_t owner, TTalvConfig& cfg, std::string& remoteName) {
  TDeviceInfoArray devices;
  if (!QueryDevices(devices)) {
    Warn(owner, "Cannot ask the engine for the device list:" + std::string(kCrLf2) + EngineLastError(),
         kMbIconError);
    return kFsExecOk;
  }
  if (devices.empty()) {
    Warn(owner,
         "No SDR receiver is connected.\r\n\r\nCheck the USB connection and that the driver DLL (rtlsdr.dll "
         "or "
         "hackrf.dll) sits next to the plugin.",
         kMbIconWarning);
    return kFsExecOk;
  }
  const std::string present = AsciiLower(TrimText(cfg.DeviceType));
  std::string answer = ProposedDevice(devices, cfg, present);
  if (!AskText(DialogTitle("Device"), DeviceChooserPrompt(devices, present), answer)) return kFsExecOk;
  answer = std::string(TrimText(answer));
  if (answer.empty()) {
    cfg.DeviceSerial.clear();
    cfg.DeviceName.clear();
  } else {
    const TDeviceInfo* d = MatchDevice(devices, answer, present);
    if (d == nullptr) {
      Warn(owner, "No connected receiver has the id or index \"" + answer + "\".", kMbIconWarning);
      return kFsExecOk;
    }
    // The kind goes through the settings' own rules, like any typed value.
    if (!ConfigSetKey(cfg, "DeviceType", d->Kind)) {
      RefuseValue(owner, "DeviceType");
      return kFsExecOk;
    }
    cfg.DeviceIndex = d->Index;
    cfg.DeviceSerial = d->Serial;
    cfg.DeviceName = d->Name;
  }
  if (!SaveOrTell(owner, cfg)) return kFsExecOk;
  return Symlink(remoteName, "\\Config");
}

int RunLiveAudioDialog(uintptr_t owner, TTalvConfig& cfg, std::string& remoteName) {
  const TEngineState st = ReadEngineState();
  const int64_t proposed = st.Live && st.LiveHz > 0 ? st.LiveHz
                           : cfg.LastLiveHz > 0     ? cfg.LastLiveHz
                                                    : ScanRangeCentre(cfg);
  const std::string title = DialogTitle("Live Audio");
  std::string answer = FormatHz(proposed);
  if (!AskText(title, "Frequency to listen to (k/M/G allowed, any frequency the tuner can reach)", answer))
    return kFsExecOk;
  const int64_t hz = ParseHz(answer, 0);
  if (hz <= 0) {
    Warn(owner, "Not a frequency: " + answer, kMbIconWarning);
    return kFsExecOk;
  }
  std::string mod = st.Live && !st.LiveMod.empty() ? st.LiveMod : ModulationName(cfg.Modulation);
  if (!AskText(title, "Modulation, one of: " + ModulationList(), mod)) return kFsExecOk;
  const TModulation modulation = ParseModulation(mod, cfg.Modulation);
  std::string error;
  if (!EngineStartLive(cfg, hz, modulation, error)) {
    Warn(owner, "Could not start live audio on " + FormatHz(hz) + ":" + kCrLf2 + error, kMbIconError);
    return kFsExecOk;
  }
  if (hz != cfg.LastLiveHz) {
    cfg.LastLiveHz = hz;
    SaveOrTell(owner, cfg);  // live audio plays either way; the root must show how to stop it
  }
  return Symlink(remoteName, "\\");
}

int ExecuteFile(uintptr_t mainWin, std::string& remoteName, const std::string* verb) {
  RememberTcWindow(mainWin);
  if (verb == nullptr || *verb != "open") return kFsExecYourself;
  TTalvConfig cfg = LoadPluginConfig();
  const TVfsPath path = ParseVfsPath(remoteName);
  switch (path.Kind) {
    case vkConfigEntry:
      return EditSetting(mainWin, cfg, path.Key, remoteName);
    case vkSpectrumEntry:
      return EditSpectrumEntry(mainWin, cfg, path.Entry, remoteName);
    case vkCommand:
      return RunCommand(mainWin, cfg, path.Command, remoteName);
    case vkStatus:
      return kFsExecYourself;
    default:
      return kFsExecError;
  }
}
