#pragma once
// What the automatic gain (uAutoGain) needs of a receiver, and nothing more: whether the receiver has
// gain control of its own, and setting its gain. Every receiver (ISdrDevice) is one; tests may hand
// the automatic gain a small stand-in. Called only by the thread that reads the receiver.
#include <memory>

class IGainStage {
 public:
  virtual ~IGainStage() = default;
  // True when the receiver has its own automatic gain.
  virtual bool HasHardwareAgc() = 0;
  // Gain in dB; any negative value means automatic gain. False when the receiver refused it.
  virtual bool SetGain(double db) = 0;
};

// A shared reference to a gain stage; empty means none.
using TGainStageRef = std::shared_ptr<IGainStage>;
