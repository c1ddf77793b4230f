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
