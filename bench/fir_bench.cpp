// The FIR filters and the channel demodulator against liquid-dsp (loaded at run time from
// libliquid.so.1, so the engine build needs nothing of it; without it only our side runs):
//   decim2.23/32768        one half-band decimate-by-2 stage on a receiver block (firdecim_crcf)
//   chanfilt.189/1024      the NFM channel filter at 64 kHz on one block's worth (firfilt_crcf)
//   nfm.chain/32768        one NFM channel from 2.048 MS/s to 48 kHz audio: ours is TChannelDemod;
//                          liquid's is nco mix-down, five firdecim stages with our taps, firfilt,
//                          freqdem and a 3/4 rresamp
//   nfm.16ch/32768         sixteen such channels on the same block (the multi-channel load)
//   nfm.build              building one NFM chain at 2.048 MS/s
// Besides the time, each chain reports "xRT": seconds of signal handled per second of work, so
// 1/xRT is the share of one core it needs in real time ("core_%" in per cent). WFM and SSB chains run
// ours only.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "pDynLib.h"
#include "uDemod.h"
#include "uFir.h"

namespace {

using talvbench::NoiseBlock;

constexpr double InRate = 2048000.0;
constexpr int32_t Block = 32768;
constexpr int64_t Centre = 145000000;

// The few liquid-dsp routines used here, declared by their C signatures.
struct TLiquid {
  void* (*firdecim_crcf_create)(unsigned, float*, unsigned) = nullptr;
  int (*firdecim_crcf_execute_block)(void*, TComplexF*, unsigned, TComplexF*) = nullptr;
  int (*firdecim_crcf_destroy)(void*) = nullptr;
  void* (*firfilt_crcf_create)(float*, unsigned) = nullptr;
  int (*firfilt_crcf_execute_block)(void*, TComplexF*, unsigned, TComplexF*) = nullptr;
  int (*firfilt_crcf_destroy)(void*) = nullptr;
  void* (*freqdem_create)(float) = nullptr;
  int (*freqdem_demodulate_block)(void*, TComplexF*, unsigned, float*) = nullptr;
  int (*freqdem_destroy)(void*) = nullptr;
  void* (*nco_crcf_create)(int) = nullptr;
  int (*nco_crcf_set_frequency)(void*, float) = nullptr;
  int (*nco_crcf_mix_block_down)(void*, TComplexF*, TComplexF*, unsigned) = nullptr;
  int (*nco_crcf_destroy)(void*) = nullptr;
  void* (*rresamp_rrrf_create_kaiser)(unsigned, unsigned, unsigned, float, float) = nullptr;
  void (*rresamp_rrrf_execute_block)(void*, float*, unsigned, float*) = nullptr;
  void (*rresamp_rrrf_destroy)(void*) = nullptr;
  bool Ok = false;
};

const TLiquid& Liquid() {
  static const TLiquid lib = [] {
    TLiquid l;
    plat::TDynLib h = plat::LoadDynLib("libliquid.so.1");
    if (!h) h = plat::LoadDynLib("libliquid.so");
    if (!h) return l;
    l.Ok = plat::BindDynLib(h, "firdecim_crcf_create", l.firdecim_crcf_create) &&
           plat::BindDynLib(h, "firdecim_crcf_execute_block", l.firdecim_crcf_execute_block) &&
           plat::BindDynLib(h, "firdecim_crcf_destroy", l.firdecim_crcf_destroy) &&
           plat::BindDynLib(h, "firfilt_crcf_create", l.firfilt_crcf_create) &&
           plat::BindDynLib(h, "firfilt_crcf_execute_block", l.firfilt_crcf_execute_block) &&
           plat::BindDynLib(h, "firfilt_crcf_destroy", l.firfilt_crcf_destroy) &&
           plat::BindDynLib(h, "freqdem_create", l.freqdem_create) &&
           plat::BindDynLib(h, "freqdem_demodulate_block", l.freqdem_demodulate_block) &&
           plat::BindDynLib(h, "freqdem_destroy", l.freqdem_destroy) &&
           plat::BindDynLib(h, "nco_crcf_create", l.nco_crcf_create) &&
           plat::BindDynLib(h, "nco_crcf_set_frequency", l.nco_crcf_set_frequency) &&
           plat::BindDynLib(h, "nco_crcf_mix_block_down", l.nco_crcf_mix_block_down) &&
           plat::BindDynLib(h, "nco_crcf_destroy", l.nco_crcf_destroy) &&
           plat::BindDynLib(h, "rresamp_rrrf_create_kaiser", l.rresamp_rrrf_create_kaiser) &&
           plat::BindDynLib(h, "rresamp_rrrf_execute_block", l.rresamp_rrrf_execute_block) &&
           plat::BindDynLib(h, "rresamp_rrrf_destroy", l.rresamp_rrrf_destroy);
    return l;  // the library stays loaded for the whole run
  }();
  return lib;
}

bool NeedLiquid(benchmark::State& state) {
  if (Liquid().Ok) return true;
  state.SkipWithError("libliquid.so.1 not found (apt install libliquid1)");
  return false;
}

// Seconds of 2.048 MS/s signal handled per second of work, and the share of a core that takes.
void ReportRealTime(benchmark::State& state, double secondsPerIteration) {
  state.counters["xRT"] = benchmark::Counter(secondsPerIteration * static_cast<double>(state.iterations()),
                                             benchmark::Counter::kIsRate);
  talvbench::ReportCoreShare(state, secondsPerIteration);
}

// ---------------------------------------------------------------------------------------------
// Single filters

void OursDecim(benchmark::State& state) {
  TSingleArray taps;
  HalfBandTaps(taps, 23);
  TFirDecim fir(taps, 2);
  const TComplexFArray x = NoiseBlock(Block, 0.5f, 1);
  TComplexFArray y(Block);
  for (auto _ : state) {
    benchmark::DoNotOptimize(fir.Process(x.data(), Block, y.data()));
    benchmark::ClobberMemory();
  }
  ReportRealTime(state, Block / InRate);
}

void LiquidDecim(benchmark::State& state) {
  if (!NeedLiquid(state)) return;
  const TLiquid& lq = Liquid();
  TSingleArray taps;
  HalfBandTaps(taps, 23);
  void* q = lq.firdecim_crcf_create(2, taps.data(), static_cast<unsigned>(taps.size()));
  TComplexFArray x = NoiseBlock(Block, 0.5f, 1), y(Block);
  for (auto _ : state) {
    lq.firdecim_crcf_execute_block(q, x.data(), Block / 2, y.data());
    benchmark::ClobberMemory();
  }
  lq.firdecim_crcf_destroy(q);
  ReportRealTime(state, Block / InRate);
}

void OursChanFilt(benchmark::State& state) {
  TSingleArray taps;
  DesignLowPass(taps, 6250.0 / 64000.0, 188);
  TFirDecim fir(taps, 1);
  const TComplexFArray x = NoiseBlock(1024, 0.5f, 2);
  TComplexFArray y(1024);
  for (auto _ : state) {
    benchmark::DoNotOptimize(fir.Process(x.data(), 1024, y.data()));
    benchmark::ClobberMemory();
  }
  ReportRealTime(state, 1024 / 64000.0);
}

void LiquidChanFilt(benchmark::State& state) {
  if (!NeedLiquid(state)) return;
  const TLiquid& lq = Liquid();
  TSingleArray taps;
  DesignLowPass(taps, 6250.0 / 64000.0, 188);
  void* q = lq.firfilt_crcf_create(taps.data(), static_cast<unsigned>(taps.size()));
  TComplexFArray x = NoiseBlock(1024, 0.5f, 2), y(1024);
  for (auto _ : state) {
    lq.firfilt_crcf_execute_block(q, x.data(), 1024, y.data());
    benchmark::ClobberMemory();
  }
  lq.firfilt_crcf_destroy(q);
  ReportRealTime(state, 1024 / 64000.0);
}

// ---------------------------------------------------------------------------------------------
// Whole NFM chains

// liquid-dsp's version of one NFM channel, built from the same taps where liquid takes taps.
class TLiquidNfm {
 public:
  explicit TLiquidNfm(double offsetHz) : FLq(Liquid()) {
    FNco = FLq.nco_crcf_create(1);  // LIQUID_VCO: the precise oscillator, as ours is
    FLq.nco_crcf_set_frequency(FNco, static_cast<float>(2.0 * 3.14159265358979 * offsetHz / InRate));
    TSingleArray taps;
    for (int k = 0; k < 5; ++k) {
      HalfBandTaps(taps, k == 0 ? 23 : 31);
      FStages.push_back(FLq.firdecim_crcf_create(2, taps.data(), static_cast<unsigned>(taps.size())));
    }
    DesignLowPass(taps, 6250.0 / 64000.0, 188);
    FChannel = FLq.firfilt_crcf_create(taps.data(), static_cast<unsigned>(taps.size()));
    FDem = FLq.freqdem_create(2500.0f / 64000.0f);
    FResamp = FLq.rresamp_rrrf_create_kaiser(3, 4, 12, 0.4f, 60.0f);
    FMix.resize(Block);
    FA.resize(Block);
    FB.resize(Block);
    FReal.resize(Block);
    FAudio.resize(Block);
  }
  ~TLiquidNfm() {
    FLq.nco_crcf_destroy(FNco);
    for (void* s : FStages) FLq.firdecim_crcf_destroy(s);
    FLq.firfilt_crcf_destroy(FChannel);
    FLq.freqdem_destroy(FDem);
    FLq.rresamp_rrrf_destroy(FResamp);
  }
  // One block of Block samples (a multiple of 4 * 32) in, audio out.
  void Process(const TComplexF* x) {
    FLq.nco_crcf_mix_block_down(FNco, const_cast<TComplexF*>(x), FMix.data(), Block);
    TComplexF* cur = FMix.data();
    TComplexF* buf[2] = {FA.data(), FB.data()};
    unsigned n = Block;
    for (size_t k = 0; k < FStages.size(); ++k) {
      n /= 2;
      FLq.firdecim_crcf_execute_block(FStages[k], cur, n, buf[k & 1]);
      cur = buf[k & 1];
    }
    TComplexF* chan = buf[FStages.size() & 1];
    FLq.firfilt_crcf_execute_block(FChannel, cur, n, chan);
    FLq.freqdem_demodulate_block(FDem, chan, n, FReal.data());
    FLq.rresamp_rrrf_execute_block(FResamp, FReal.data(), n / 4, FAudio.data());
  }
  const float* Audio() const { return FAudio.data(); }

 private:
  const TLiquid& FLq;
  void* FNco = nullptr;
  std::vector<void*> FStages;
  void* FChannel = nullptr;
  void* FDem = nullptr;
  void* FResamp = nullptr;
  TComplexFArray FMix, FA, FB;
  TSingleArray FReal, FAudio;
};

void OursChains(benchmark::State& state, TModulation mode, int channels) {
  std::vector<std::unique_ptr<TChannelDemod>> dm;
  for (int c = 0; c < channels; ++c)
    dm.push_back(std::make_unique<TChannelDemod>(InRate, Centre, Centre - 800000 + c * 100000, mode, 48000));
  const TComplexFArray x = NoiseBlock(Block, 0.5f, 3);
  for (auto _ : state) {
    for (auto& d : dm) {
      const float* audio = nullptr;
      int32_t count = 0;
      d->Process(x.data(), Block, audio, count);
      benchmark::DoNotOptimize(audio);
    }
    benchmark::ClobberMemory();
  }
  ReportRealTime(state, Block / InRate);
}

void LiquidChains(benchmark::State& state, int channels) {
  if (!NeedLiquid(state)) return;
  std::vector<std::unique_ptr<TLiquidNfm>> dm;
  for (int c = 0; c < channels; ++c) dm.push_back(std::make_unique<TLiquidNfm>(-800000.0 + c * 100000.0));
  const TComplexFArray x = NoiseBlock(Block, 0.5f, 3);
  for (auto _ : state) {
    for (auto& d : dm) {
      d->Process(x.data());
      benchmark::DoNotOptimize(d->Audio());
    }
    benchmark::ClobberMemory();
  }
  ReportRealTime(state, Block / InRate);
}

void OursBuild(benchmark::State& state) {
  for (auto _ : state) {
    TChannelDemod dm(InRate, Centre, Centre + 25000, modNFM, 48000);
    benchmark::DoNotOptimize(&dm);
  }
}

void LiquidBuild(benchmark::State& state) {
  if (!NeedLiquid(state)) return;
  for (auto _ : state) {
    TLiquidNfm dm(25000.0);
    benchmark::DoNotOptimize(&dm);
  }
}

const bool gRegistered = [] {
  using benchmark::RegisterBenchmark;
  using talvbench::OursName;
  using talvbench::PeerName;
  RegisterBenchmark(OursName("decim2.23/32768").c_str(), OursDecim)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(PeerName("decim2.23/32768", "liquid").c_str(), LiquidDecim)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(OursName("chanfilt.189/1024").c_str(), OursChanFilt)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(PeerName("chanfilt.189/1024", "liquid").c_str(), LiquidChanFilt)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(OursName("nfm.chain/32768").c_str(), OursChains, modNFM, 1)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(PeerName("nfm.chain/32768", "liquid").c_str(), LiquidChains, 1)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(OursName("nfm.16ch/32768").c_str(), OursChains, modNFM, 16)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(PeerName("nfm.16ch/32768", "liquid").c_str(), LiquidChains, 16)
      ->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(OursName("nfm.build").c_str(), OursBuild)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark(PeerName("nfm.build", "liquid").c_str(), LiquidBuild)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark("wfm.chain/32768 [ours]", OursChains, modWFM, 1)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark("am.chain/32768 [ours]", OursChains, modAM, 1)->Unit(benchmark::kMicrosecond);
  RegisterBenchmark("usb.chain/32768 [ours]", OursChains, modUSB, 1)->Unit(benchmark::kMicrosecond);
  // Sixteen channels in a quarter of a core; one chain gets a sixteenth of that.
  talvbench::AddFigure("nfm.chain/32768", "core_%", "% of a core", 25.0 / 16, false, "liquid");
  talvbench::AddFigure("nfm.16ch/32768", "core_%", "% of a core", 25.0, false, "liquid");
  return true;
}();

}  // namespace
