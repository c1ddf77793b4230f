#include "pClock.h"

#include "pSystem.h"

namespace plat {
namespace {
class TSystemClock : public IClock {
 public:
  uint64_t NowMs() override { return TickMs(); }
  void SleepMs(uint32_t ms) override { plat::SleepMs(ms); }
};
}  // namespace

IClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

bool SleepUnlessStopped(IClock& clock, uint32_t ms, const std::atomic<bool>* stop) {
  while (ms > 0) {
    if (stop != nullptr && stop->load()) return false;
    const uint32_t step = ms < kStopCheckMs ? ms : kStopCheckMs;
    clock.SleepMs(step);
    ms -= step;
  }
  return stop == nullptr || !stop->load();
}

}  // namespace plat
