// The channel demodulator: the chain it builds, tones demodulated to the right audio frequency, the
// side band it keeps, and the gain control's rules.
#include "uDemod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "uFft.h"

namespace {

constexpr double Pi = 3.14159265358979323846;
constexpr double Rate = 2048000.0;
constexpr int64_t Centre = 145000000;
constexpr int64_t Offset = 200000;  // the channel lies 200 kHz above the tuner centre
constexpr int32_t Block = 32768;

// Complex baseband at the tuner: sample k -> value.
using TSignal = std::function<TComplexF(int64_t k)>;

// Runs seconds of the signal through a demodulator in receiver-sized blocks; returns all audio.
std::vector<float> Demodulate(TChannelDemod& dm, const TSignal& sig, double seconds) {
  std::vector<float> audio;
  const int64_t total = static_cast<int64_t>(seconds * Rate);
  TComplexFArray block(Block);
  for (int64_t done = 0; done < total; done += Block) {
    const int32_t n = static_cast<int32_t>(std::min<int64_t>(Block, total - done));
    for (int32_t i = 0; i < n; ++i) block[i] = sig(done + i);
    const float* out = nullptr;
    int32_t count = -1;
    dm.Process(block.data(), n, out, count);
    if (count > 0) audio.insert(audio.end(), out, out + count);
  }
  return audio;
}

struct TToneReport {
  double PeakHz = 0;     // frequency of the strongest bin above 50 Hz
  double ToneShare = 0;  // share of the power (above 50 Hz) within 30 Hz of the wanted frequency
  double Rms = 0;
};

// FFT of the last 16384 audio samples (Hann window).
TToneReport Analyse(const std::vector<float>& audio, double audioRate, double wantHz) {
  constexpr int32_t N = 16384;
  TToneReport r;
  if (audio.size() < static_cast<size_t>(N)) return r;
  TFftPlan plan(N);
  TComplexFArray buf(N);
  const size_t start = audio.size() - N;
  double sq = 0;
  for (int32_t i = 0; i < N; ++i) {
    buf[i] = {audio[start + i], 0.0f};
    sq += static_cast<double>(audio[start + i]) * audio[start + i];
  }
  r.Rms = std::sqrt(sq / N);
  plan.ApplyWindow(buf.data(), buf.data());
  plan.Execute(buf.data());
  const double binHz = audioRate / N;
  double total = 0, near = 0, best = -1;
  for (int32_t k = static_cast<int32_t>(50 / binHz); k <= N / 2; ++k) {
    const double p = static_cast<double>(buf[k].Re) * buf[k].Re + static_cast<double>(buf[k].Im) * buf[k].Im;
    total += p;
    if (std::fabs(k * binHz - wantHz) <= 30.0) near += p;
    if (p > best) {
      best = p;
      r.PeakHz = k * binHz;
    }
  }
  r.ToneShare = total > 0 ? near / total : 0;
  return r;
}

TSignal FmTone(double carrierHz, double deviationHz, double toneHz, float amplitude = 0.5f) {
  return [=](int64_t k) {
    const double t = static_cast<double>(k) / Rate;
    const double ph = 2 * Pi * carrierHz * t + deviationHz / toneHz * std::sin(2 * Pi * toneHz * t);
    return TComplexF{amplitude * static_cast<float>(std::cos(ph)),
                     amplitude * static_cast<float>(std::sin(ph))};
  };
}

TSignal AmTone(double carrierHz, double depth, double toneHz) {
  return [=](int64_t k) {
    const double t = static_cast<double>(k) / Rate;
    const double a = 0.4 * (1.0 + depth * std::cos(2 * Pi * toneHz * t));
    const double ph = 2 * Pi * carrierHz * t;
    return TComplexF{static_cast<float>(a * std::cos(ph)), static_cast<float>(a * std::sin(ph))};
  };
}

TSignal Carrier(double hz, float amplitude) {
  return FmTone(hz, 0.0, 1.0, amplitude);
}

double MaxAbs(const std::vector<float>& v) {
  double m = 0;
  for (float x : v) m = std::max(m, static_cast<double>(std::fabs(x)));
  return m;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The chain it builds

TEST(DemodChain, WorkedValuesAt2048kIn48kOut) {
  struct {
    TModulation Mode;
    int32_t Stages;
    double StageRate;
    int32_t Taps;
    int32_t L, M, K;
  } const cases[] = {
      {modNFM, 5, 64000, 189, 3, 4, 49}, {modWFM, 2, 512000, 73, 3, 32, 392},
      {modAM, 6, 32000, 147, 3, 2, 25},  {modLSB, 7, 16000, 221, 3, 1, 16},
      {modUSB, 7, 16000, 221, 3, 1, 16},
  };
  for (const auto& c : cases) {
    TChannelDemod dm(Rate, Centre, Centre + Offset, c.Mode, 48000);
    SCOPED_TRACE(ModulationName(c.Mode));
    EXPECT_EQ(dm.StageCount(), c.Stages);
    EXPECT_EQ(dm.StageRate(), c.StageRate);
    EXPECT_EQ(dm.ChannelTapCount(), c.Taps);
    EXPECT_EQ(dm.Resampler().Up(), c.L);
    EXPECT_EQ(dm.Resampler().Down(), c.M);
    EXPECT_EQ(dm.Resampler().TapsPerPhase(), c.K);
  }
}

TEST(DemodChain, AudioRateBelowOneIs48000) {
  TChannelDemod a(Rate, Centre, Centre, modNFM, 0), b(Rate, Centre, Centre, modNFM, -5);
  EXPECT_EQ(a.AudioRate(), 48000);
  EXPECT_EQ(b.AudioRate(), 48000);
  EXPECT_EQ(a.Resampler().Up(), 3);
}

TEST(DemodChain, WfmAt250kNeedsNoStage) {
  TChannelDemod dm(250000, Centre, Centre, modWFM, 48000);
  EXPECT_EQ(dm.StageCount(), 0);
  EXPECT_EQ(dm.StageRate(), 250000);
  EXPECT_EQ(dm.ChannelTapCount(), 63);
  // It still demodulates: the chain starts with the channel filter.
  TComplexFArray x(4096, TComplexF{0.1f, 0.0f});
  const float* out = nullptr;
  int32_t count = 0;
  dm.Process(x.data(), 4096, out, count);
  EXPECT_GT(count, 0);
}

TEST(DemodChain, StageCountStopsAtTwelve) {
  TChannelDemod dm(1e9, Centre, Centre, modNFM, 48000);
  EXPECT_EQ(dm.StageCount(), 12);
  EXPECT_EQ(dm.StageRate(), 1e9 / 4096);
}

TEST(DemodChain, AwkwardRateBuildsABoundedResampler) {
  // 600001 S/s WFM needs no stage; the exact ratio 48000/600001 would need 48000 phases.
  TChannelDemod dm(600001, Centre, Centre + 50000, modWFM, 48000);
  EXPECT_EQ(dm.StageCount(), 0);
  EXPECT_LE(dm.Resampler().Up(), ResamplerMaxPhases);
  // 10 blocks of 60000 samples: one second of input gives one second of audio (within the rate error
  // of the bounded ratio and the filter delay).
  TComplexFArray x(60000);
  for (size_t k = 0; k < x.size(); ++k)
    x[k] = {0.2f * static_cast<float>(std::cos(0.3 * k)), 0.2f * static_cast<float>(std::sin(0.3 * k))};
  int64_t total = 0;
  for (int i = 0; i < 10; ++i) {
    const float* out = nullptr;
    int32_t count = 0;
    dm.Process(x.data(), 60000, out, count);
    total += count;
  }
  EXPECT_NEAR(static_cast<double>(total), 600000.0 * 48000 / 600001, 5);
}

TEST(DemodChain, ChannelAtTheCentreLeavesThePhasorAlone) {
  TChannelDemod dm(Rate, Centre, Centre, modNFM, 48000);
  TComplexFArray x(5000, TComplexF{0.3f, -0.2f});
  const float* out = nullptr;
  int32_t count = 0;
  dm.Process(x.data(), 5000, out, count);
  EXPECT_EQ(dm.PhasorRe(), 1.0);
  EXPECT_EQ(dm.PhasorIm(), 0.0);
}

TEST(DemodChain, EmptyBlockGivesNothing) {
  TChannelDemod dm(Rate, Centre, Centre, modNFM, 48000);
  TComplexFArray x(10);
  const float* out = reinterpret_cast<const float*>(&x);
  int32_t count = 7;
  dm.Process(x.data(), 0, out, count);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(out, nullptr);
  dm.Process(x.data(), -3, out, count);
  EXPECT_EQ(count, 0);
}

TEST(DemodChain, WithTheGainHeldAudioDoesNotDependOnBlockSizes) {
  // Oscillator, stages, filters, discriminator and resampler carry their state exactly. Both
  // demodulators first take the same start-up block (its filter transient may lower the gain once);
  // after that the gain is held and never moves, so the AGC multiplies every sample by the same value
  // and the streams must match bit for bit however the rest is cut.
  const TSignal sig = FmTone(Offset + 700, 2000, 900, 0.05f);
  TComplexFArray x(265536);
  for (size_t k = 0; k < x.size(); ++k) x[k] = sig(static_cast<int64_t>(k));
  constexpr int32_t Prime = 65536;
  for (TModulation mode : {modNFM, modWFM, modAM, modLSB, modUSB}) {
    SCOPED_TRACE(ModulationName(mode));
    TChannelDemod whole(Rate, Centre, Centre + Offset, mode, 48000),
        pieces(Rate, Centre, Centre + Offset, mode, 48000);
    whole.HoldAgc = pieces.HoldAgc = true;
    const float* out = nullptr;
    int32_t count = 0;
    whole.Process(x.data(), Prime, out, count);
    pieces.Process(x.data(), Prime, out, count);
    const float gain = whole.Gain();
    ASSERT_EQ(pieces.Gain(), gain);
    whole.Process(x.data() + Prime, static_cast<int32_t>(x.size()) - Prime, out, count);
    const std::vector<float> a(out, out + count);
    std::vector<float> b;
    const int32_t sizes[] = {1, 7, 4093, 333, 2, 65536, 1000};
    size_t off = Prime;
    for (int i = 0; off < x.size(); ++i) {
      const int32_t n = static_cast<int32_t>(std::min<size_t>(sizes[i % 7], x.size() - off));
      pieces.Process(x.data() + off, n, out, count);
      if (count > 0) b.insert(b.end(), out, out + count);
      off += static_cast<size_t>(n);
    }
    EXPECT_EQ(whole.Gain(), gain);
    EXPECT_EQ(pieces.Gain(), gain);
    ASSERT_EQ(a.size(), b.size());
    EXPECT_TRUE(a == b);
  }
}

TEST(DemodChain, TheOscillatorsWideNarrowAndOneByOnePathsGiveTheSameBits) {
  // The mixer works on whole groups of four samples with SSE2 or AVX lanes, and one sample at a time
  // where a block cuts a group: all three must leave the same audio and the same phasor, bit for bit.
  const TSignal sig = FmTone(Offset + 1300, 2500, 700, 0.3f);
  TComplexFArray x(3 * Block + 5);
  for (size_t k = 0; k < x.size(); ++k) x[k] = sig(static_cast<int64_t>(k));
  TChannelDemod wide(Rate, Centre, Centre + Offset + 12345, modNFM, 48000),
      narrow(Rate, Centre, Centre + Offset + 12345, modNFM, 48000),
      single(Rate, Centre, Centre + Offset + 12345, modNFM, 48000);
  narrow.UseSse2Mixer();
  const float* out = nullptr;
  int32_t count = 0;
  std::vector<float> a, b;
  for (size_t off = 0; off < x.size(); off += Block) {
    const int32_t n = static_cast<int32_t>(std::min<size_t>(Block, x.size() - off));
    wide.Process(x.data() + off, n, out, count);
    a.insert(a.end(), out, out + count);
    narrow.Process(x.data() + off, n, out, count);
    b.insert(b.end(), out, out + count);
  }
  ASSERT_GT(a.size(), 2000u);
  EXPECT_TRUE(a == b);
  for (size_t off = 0; off < x.size(); off += 3)
    single.Process(x.data() + off, static_cast<int32_t>(std::min<size_t>(3, x.size() - off)), out, count);
  for (const TChannelDemod* d : {&narrow, &single}) {
    EXPECT_EQ(d->PhasorRe(), wide.PhasorRe());
    EXPECT_EQ(d->PhasorIm(), wide.PhasorIm());
  }
  EXPECT_NE(wide.PhasorIm(), 0.0);
}

TEST(DemodChain, TinyBlocksThatYieldNoAudioReturnZero) {
  // 3 samples at 2.048 MS/s do not reach one output of the fifth stage.
  TChannelDemod dm(Rate, Centre, Centre, modNFM, 48000);
  TComplexFArray x(3, TComplexF{0.1f, 0.1f});
  const float* out = nullptr;
  int32_t count = 0;
  int32_t blocksWithAudio = 0;
  for (int i = 0; i < 100; ++i) {
    dm.Process(x.data(), 3, out, count);
    if (count > 0) {
      ++blocksWithAudio;
      EXPECT_NE(out, nullptr);
    } else {
      EXPECT_EQ(out, nullptr);
    }
  }
  EXPECT_GT(blocksWithAudio, 0);
  EXPECT_LT(blocksWithAudio, 100);
}

// ---------------------------------------------------------------------------------------------
// Every mode demodulates a tone to the right audio frequency

TEST(DemodModes, NfmToneComesOutAtItsFrequency) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modNFM, 48000);
  const auto r = Analyse(Demodulate(dm, FmTone(Offset, 2500, 1000), 0.6), 48000, 1000);
  EXPECT_NEAR(r.PeakHz, 1000, 6);
  EXPECT_GT(r.ToneShare, 0.95);
}

TEST(DemodModes, WfmToneComesOutAtItsFrequency) {
  TChannelDemod dm(Rate, Centre, Centre - Offset, modWFM, 48000);
  const auto r = Analyse(Demodulate(dm, FmTone(-Offset, 50000, 3000), 0.6), 48000, 3000);
  EXPECT_NEAR(r.PeakHz, 3000, 6);
  EXPECT_GT(r.ToneShare, 0.95);
}

TEST(DemodModes, AmToneComesOutAtItsFrequency) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modAM, 48000);
  const auto r = Analyse(Demodulate(dm, AmTone(Offset, 0.5, 700), 0.6), 48000, 700);
  EXPECT_NEAR(r.PeakHz, 700, 6);
  EXPECT_GT(r.ToneShare, 0.95);
}

TEST(DemodModes, AnotherAudioRateKeepsTheFrequency) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modNFM, 44100);
  EXPECT_EQ(dm.Resampler().Up(), 441);
  const auto r = Analyse(Demodulate(dm, FmTone(Offset, 2500, 1200), 0.6), 44100, 1200);
  EXPECT_NEAR(r.PeakHz, 1200, 6);
  EXPECT_GT(r.ToneShare, 0.95);
}

TEST(DemodModes, UsbHearsAToneAboveTheChannel) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modUSB, 48000);
  const auto r = Analyse(Demodulate(dm, Carrier(Offset + 1500, 0.5f), 0.6), 48000, 1500);
  EXPECT_NEAR(r.PeakHz, 1500, 6);
  EXPECT_GT(r.ToneShare, 0.95);
}

TEST(DemodModes, LsbHearsAToneBelowTheChannel) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modLSB, 48000);
  const auto r = Analyse(Demodulate(dm, Carrier(Offset - 1500, 0.5f), 0.6), 48000, 1500);
  EXPECT_NEAR(r.PeakHz, 1500, 6);
  EXPECT_GT(r.ToneShare, 0.95);
}

TEST(DemodModes, EachSideBandRejectsTheOtherByMoreThan60dB) {
  // With the gain held at 1 the output level is the filter's: compare the wanted and the mirrored tone.
  for (TModulation mode : {modUSB, modLSB}) {
    SCOPED_TRACE(ModulationName(mode));
    const double sign = mode == modUSB ? 1.0 : -1.0;
    for (double hz : {400.0, 1000.0, 2500.0}) {
      TChannelDemod wanted(Rate, Centre, Centre + Offset, mode, 48000);
      TChannelDemod mirror(Rate, Centre, Centre + Offset, mode, 48000);
      wanted.HoldAgc = mirror.HoldAgc = true;
      const auto a = Analyse(Demodulate(wanted, Carrier(Offset + sign * hz, 0.5f), 0.4), 48000, hz);
      const auto b = Analyse(Demodulate(mirror, Carrier(Offset - sign * hz, 0.5f), 0.4), 48000, hz);
      // Full level in the body of the band; the audio resampler rolls off towards its 3 kHz cut-off.
      const double levelDb = 20 * std::log10(a.Rms / (0.5 / std::sqrt(2.0)));
      EXPECT_GT(levelDb, hz < 2000 ? -1.0 : -6.0) << hz;
      EXPECT_LT(levelDb, 0.5) << hz;
      EXPECT_LT(20 * std::log10(b.Rms / a.Rms), -60.0) << hz;
    }
  }
}

TEST(DemodModes, UpSamplingChainsKeepTheirWholeAudioBand) {
  // SSB (16 kHz) and AM (32 kHz) are raised to 48 kHz: the resampler must still pass up to the
  // modulation's cut-off, not a third of it.
  auto level = [](TModulation mode, const TSignal& sig, double hz) {
    TChannelDemod dm(Rate, Centre, Centre + Offset, mode, 48000);
    dm.HoldAgc = true;
    return Analyse(Demodulate(dm, sig, 0.4), 48000, hz).Rms;
  };
  const double usbLow = level(modUSB, Carrier(Offset + 500, 0.5f), 500);
  const double usbHigh = level(modUSB, Carrier(Offset + 2800, 0.5f), 2800);
  // Above -6 dB below the cut-off (the resampler's short filter rolls off gently); measured against
  // the audio rate alone the cut-off fell to 1 kHz and 2.8 kHz lay more than 20 dB down.
  EXPECT_GT(20 * std::log10(usbHigh / usbLow), -6.0);
  const double amLow = level(modAM, AmTone(Offset, 0.5, 500), 500);
  const double amHigh = level(modAM, AmTone(Offset, 0.5, 3500), 3500);
  EXPECT_GT(20 * std::log10(amHigh / amLow), -6.0);
}

// ---------------------------------------------------------------------------------------------
// Gain control and output bounds

TEST(DemodAgc, SilenceKeepsTheGainAndGivesZeros) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modAM, 48000);
  const auto audio = Demodulate(
      dm,
      [](int64_t) {
        return TComplexF{0, 0};
      },
      0.1);
  ASSERT_FALSE(audio.empty());
  EXPECT_EQ(MaxAbs(audio), 0.0);
  EXPECT_EQ(dm.Gain(), 1.0f);
}

TEST(DemodAgc, GainRisesSlowlyTowardsAQuarterOfFullScale) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modNFM, 48000);
  const auto audio = Demodulate(dm, FmTone(Offset, 250, 1000), 1.0);  // a quiet tone (small deviation)
  EXPECT_GT(dm.Gain(), 1.5f);
  const std::vector<float> tail(audio.end() - 4800, audio.end());
  EXPECT_NEAR(MaxAbs(tail), 0.25, 0.08);
}

TEST(DemodAgc, HeldGainDoesNotClimbButStillAvoidsClipping) {
  TChannelDemod dm(Rate, Centre, Centre + Offset, modAM, 48000);
  Demodulate(dm, AmTone(Offset, 0.5, 700), 0.2);
  const float settled = dm.Gain();
  dm.HoldAgc = true;
  // Much quieter: the target would call for far more gain, but the gain stays.
  auto quiet = [](int64_t k) {
    const double t = static_cast<double>(k) / Rate, a = 0.004 * (1 + 0.5 * std::cos(2 * Pi * 700 * t));
    return TComplexF{static_cast<float>(a * std::cos(2 * Pi * Offset * t)),
                     static_cast<float>(a * std::sin(2 * Pi * Offset * t))};
  };
  Demodulate(dm, quiet, 0.2);
  EXPECT_EQ(dm.Gain(), settled);
  // Much louder: peak times gain would pass 0.9, so the gain drops to 0.9 / peak even while held.
  auto loud = [](int64_t k) {
    const double t = static_cast<double>(k) / Rate, a = 40.0 * (1 + 0.9 * std::cos(2 * Pi * 700 * t));
    return TComplexF{static_cast<float>(a * std::cos(2 * Pi * Offset * t)),
                     static_cast<float>(a * std::sin(2 * Pi * Offset * t))};
  };
  const auto audio = Demodulate(dm, loud, 0.2);
  EXPECT_LT(dm.Gain(), settled);
  EXPECT_LE(MaxAbs(audio), 0.9 + 1e-5);
}

TEST(DemodAgc, OutputNeverLeavesPlusMinus098) {
  std::mt19937 rng(11);
  std::normal_distribution<float> g(0.0f, 300.0f);
  for (TModulation mode : {modNFM, modWFM, modAM, modLSB, modUSB}) {
    TChannelDemod dm(Rate, Centre, Centre + Offset, mode, 48000);
    const auto audio = Demodulate(
        dm,
        [&](int64_t) {
          return TComplexF{g(rng), g(rng)};
        },
        0.2);
    ASSERT_FALSE(audio.empty());
    EXPECT_LE(MaxAbs(audio), 0.98) << ModulationName(mode);
  }
  // Even a broken input sample (NaN) never leaves the bound.
  TChannelDemod dm(Rate, Centre, Centre + Offset, modAM, 48000);
  TComplexFArray x(Block, TComplexF{0.1f, 0.1f});
  x[100] = {std::nanf(""), 0.0f};
  std::vector<float> all;
  for (int i = 0; i < 4; ++i) {
    const float* out = nullptr;
    int32_t count = 0;
    dm.Process(x.data(), Block, out, count);
    all.insert(all.end(), out, out + count);
  }
  for (float v : all) ASSERT_TRUE(v >= -0.98f && v <= 0.98f);
}
