#pragma once
// The clock every waiting or pacing object reads. Production code uses SystemClock(); tests hand in
// a TManualClock so that waits of hundreds of milliseconds take no real time.
#include <atomic>
#include <cstdint>

namespace plat {

class IClock {
 public:
  virtual ~IClock() = default;
  virtual uint64_t NowMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

IClock& SystemClock();

// Sleeps ms on the clock in steps of at most kStopCheckMs, ending early once *stop (when given) is
// set: a long pause never outlasts a stop request by more than one step. True when the whole time
// passed, false when the stop flag ended it.
constexpr uint32_t kStopCheckMs = 20;
bool SleepUnlessStopped(IClock& clock, uint32_t ms, const std::atomic<bool>* stop);

// A clock that moves only when told to; SleepMs advances it at once.
class TManualClock : public IClock {
 public:
  explicit TManualClock(uint64_t startMs = 1000) : FNow(startMs) {}
  uint64_t NowMs() override { return FNow.load(); }
  void SleepMs(uint32_t ms) override { FNow += ms; }
  void Advance(uint64_t ms) { FNow += ms; }

 private:
  std::atomic<uint64_t> FNow;
};

}  // namespace plat
