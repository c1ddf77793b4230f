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

}  // namespace plat
