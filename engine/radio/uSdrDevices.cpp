#include "uSdrDevices.h"

#include <memory>

#include "uLog.h"
#include "uSdrHackRf.h"
#include "uSdrRtlSdr.h"

namespace {

// The override lives for the process; released at exit with the module's statics.
struct TOverride {
  TSdrDeviceRef Device;
  std::string Name;
};
TOverride& Override() {
  static TOverride o;
  return o;
}

const TSdrBackends* gTestBackends = nullptr;

TSdrDeviceInfoArray RtlList() {
  return gTestBackends ? gTestBackends->EnumerateRtlSdr() : EnumerateRtlSdr();
}
TSdrDeviceInfoArray HackRfList() {
  return gTestBackends ? gTestBackends->EnumerateHackRf() : EnumerateHackRf();
}

bool OpenHackRf(const std::string& serial, int32_t index, const TTalvConfig& config, TSdrDeviceRef& device,
                std::string& error) {
  if (gTestBackends) return gTestBackends->OpenHackRf(serial, index, config, device, error);
  std::shared_ptr<THackRfDevice> hackrf;
  if (!THackRfDevice::OpenBySerial(serial, index, hackrf, error)) return false;
  hackrf->SetGains(config.HackRfLnaDb, config.HackRfVgaDb, config.HackRfAmp, config.HackRfBiasTee);
  device = hackrf;
  return true;
}

TSdrDeviceRef NewRtlSdr() {
  if (gTestBackends) return gTestBackends->NewRtlSdr();
  return std::make_shared<TRtlSdrDevice>();
}

bool SameTextIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return AsciiLower(a) == AsciiLower(b);
}

}  // namespace

std::string SdrKindName(TSdrKind kind) {
  switch (kind) {
    case skRtlSdr:
      return "rtlsdr";
    case skHackRf:
      return "hackrf";
    default:
      return "none";
  }
}

TSdrKind ParseSdrKind(std::string_view text) {
  std::string word = AsciiLower(TrimText(text));
  if (word == "rtlsdr" || word == "rtl-sdr" || word == "rtl" || word == "nooelec") return skRtlSdr;
  if (word == "hackrf" || word == "hack-rf") return skHackRf;
  return skNone;
}

TSdrDeviceInfoArray EnumerateSdrDevices() {
  TSdrDeviceInfoArray list = RtlList();
  TSdrDeviceInfoArray hackrf = HackRfList();
  list.insert(list.end(), hackrf.begin(), hackrf.end());
  return list;
}

std::string FormatSdrDeviceInfo(const TSdrDeviceInfo& info) {
  std::string text = std::to_string(info.Index) + "  " + SdrKindName(info.Kind) + "  " + info.Name;
  if (!info.Serial.empty()) text += "  [" + info.Serial + "]";
  return text;
}

std::string ListSdrDevices(TSdrKind kindFilter) {
  std::string text;
  for (const TSdrDeviceInfo& info : EnumerateSdrDevices()) {
    if (kindFilter != skNone && info.Kind != kindFilter) continue;
    if (!text.empty()) text += "; ";
    text += FormatSdrDeviceInfo(info);
  }
  return text.empty() ? "(none connected)" : text;
}

void SetDeviceOverride(TSdrDeviceRef device, const std::string& name) {
  Override().Device = std::move(device);
  Override().Name = Override().Device ? name : std::string();
}

bool OpenSdrDevice(const TTalvConfig& config, TSdrDeviceRef& device, std::string& name, std::string& error) {
  device.reset();
  name.clear();
  error.clear();

  // A held override is handed out unchanged, whatever the settings say.
  if (Override().Device) {
    device = Override().Device;
    name = Override().Name;
    if (device->IsOpen() || device->Open(0)) return true;
    error = device->GetLastError();
    return false;
  }

  TSdrKind kind = ParseSdrKind(config.DeviceType);
  if (kind == skNone) kind = skRtlSdr;

  std::string id(TrimText(config.DeviceSerial));
  int32_t index = config.DeviceIndex;
  if (!id.empty()) {
    bool found = false;
    for (const TSdrDeviceInfo& info : EnumerateSdrDevices()) {
      if (info.Kind == kind && SameTextIgnoringAsciiCase(info.Serial, id)) {
        index = info.Index;
        found = true;
        break;
      }
    }
    if (!found) {
      error = "no " + SdrKindName(kind) + " with id \"" + id +
              "\" is connected. Present: " + ListSdrDevices(skNone);
      return false;
    }
  }

  if (kind == skHackRf) {
    TSdrDeviceRef opened;
    if (!OpenHackRf(id, index, config, opened, error)) {
      if (!error.empty() && id.empty()) error += ". Present: " + ListSdrDevices(skNone);
      return false;
    }
    device = opened;
    name = device->GetName();
    LogFmt("device: opened %s", name.c_str());
    return true;
  }

  TSdrDeviceRef rtl = NewRtlSdr();
  if (!rtl->Open(index)) {
    error = rtl->GetLastError();
    if (id.empty()) error += ". Present: " + ListSdrDevices(skNone);
    return false;  // `rtl` is released here
  }
  device = rtl;
  name = device->GetName();
  LogFmt("device: opened %s", name.c_str());
  return true;
}

void SetSdrBackendsForTest(const TSdrBackends* backends) {
  gTestBackends = backends;
}
