#pragma once
// Holds a receiver in place of every receiver the engine opens (OpenSdrDevice hands it out, under
// `name`) for the length of a test, and clears the override at the end whatever the test's outcome.
// Header-only: only test programs that link the receiver list include it. One at a time.
#include <string>
#include <utility>

#include "uSdrDevices.h"

namespace testsupport {

class TDeviceOverride {
 public:
  explicit TDeviceOverride(TSdrDeviceRef device, const std::string& name = "Test") {
    SetDeviceOverride(std::move(device), name);
  }
  ~TDeviceOverride() { SetDeviceOverride(nullptr, ""); }
  TDeviceOverride(const TDeviceOverride&) = delete;
  TDeviceOverride& operator=(const TDeviceOverride&) = delete;
};

}  // namespace testsupport
