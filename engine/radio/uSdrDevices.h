#pragma once
// The device list: every connected receiver (RTL-SDR then HackRF, each in its library's order), its
// one-line text, and OpenSdrDevice, the single routine by which sessions, the scanner set-up and the
// command line turn the settings record into an open receiver. A receiver library that cannot be
// loaded contributes no entries and shows up only as its class's open error.
//
// SetDeviceOverride lets the path self test substitute a receiver (a simulated one): while it is
// held, OpenSdrDevice returns it whatever the settings say, unchanged.
//
// Used from one thread at a time (the command thread under the service's command lock, the main
// thread, or a session's worker during its preparation); the override has no lock of its own.
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

#include "uSdrIntf.h"
#include "uTalvConfig.h"

// RTL-SDR receivers followed by HackRFs; Index counts within each kind.
TSdrDeviceInfoArray EnumerateSdrDevices();
// "%d  %s  %s" with Index, kind name and Name, then "  [" Serial "]" when the serial is known.
std::string FormatSdrDeviceInfo(const TSdrDeviceInfo& info);
// The listed receivers of this kind (skNone: every kind), joined by "; "; "(none connected)" when none.
std::string ListSdrDevices(TSdrKind kindFilter);

// Holds `device` (an empty reference clears the override) and its name.
void SetDeviceOverride(TSdrDeviceRef device, const std::string& name);

// Holds an override for its own lifetime (the path self test, tests) and clears it on destruction,
// whatever way the holder's scope ends. One at a time.
class TDeviceOverrideScope {
 public:
  explicit TDeviceOverrideScope(TSdrDeviceRef device, const std::string& name = "Test") {
    SetDeviceOverride(std::move(device), name);
  }
  ~TDeviceOverrideScope() { SetDeviceOverride(nullptr, ""); }
  TDeviceOverrideScope(const TDeviceOverrideScope&) = delete;
  TDeviceOverrideScope& operator=(const TDeviceOverrideScope&) = delete;
};

// Opens the receiver the settings name (DeviceType, DeviceIndex, DeviceSerial, and for a HackRF its
// four gain settings; DeviceName plays no part). On success `device` holds the open receiver and
// `name` its name; on failure `error` holds the text and `device` is empty, except that a held
// override that cannot be opened is still handed out.
bool OpenSdrDevice(const TTalvConfig& config, TSdrDeviceRef& device, std::string& name, std::string& error);

// For tests: replaces the receiver classes behind EnumerateSdrDevices and OpenSdrDevice. OpenHackRf
// stands for opening by serial and index and applying the settings' gains. Pass nullptr to go back
// to the real receivers.
struct TSdrBackends {
  std::function<TSdrDeviceInfoArray()> EnumerateRtlSdr;
  std::function<TSdrDeviceInfoArray()> EnumerateHackRf;
  std::function<TSdrDeviceRef()> NewRtlSdr;
  std::function<bool(const std::string& serial, int32_t index, const TTalvConfig& config,
                     TSdrDeviceRef& device, std::string& error)>
      OpenHackRf;
};
void SetSdrBackendsForTest(const TSdrBackends* backends);
