#pragma once
// One channel's demodulator: wideband I/Q blocks in, levelled audio out.
//
// The chain: a numerically controlled oscillator shifts the channel to 0 Hz; a cascade of half-band
// stages halves the rate down to the smallest InputRate / 2^s that still holds the channel (at most 12
// stages); the channel filter (a low-pass, for LSB/USB a complex band-pass on the wanted side band);
// the demodulator (FM discriminator with 50 us de-emphasis, AM envelope, SSB real part); a rational
// resampler to the audio rate; an automatic gain control that holds its gain while HoldAgc is set.
// The chain depends only on the input rate, the channel offset, the modulation and the audio rate; a
// change of any of them means a new demodulator. Oscillator, filter histories, discriminator and AGC
// state carry across blocks; everything before the AGC gives the same signal however the stream is
// cut, the AGC itself measures and ramps per block. Audio leaving Process lies within -0.98..0.98.
// Buffers grow to the block size once and are reused; nothing here allocates afterwards, locks or
// calls the OS. One thread at a time.
#include <cstdint>
#include <memory>
#include <vector>

#include "uDspTypes.h"
#include "uFir.h"
#include "uTalvConfig.h"

class TChannelDemod {
 public:
  // audioRate below 1 becomes 48000.
  TChannelDemod(double inputRate, int64_t centreHz, int64_t channelHz, TModulation mode, int32_t audioRate);
  TChannelDemod(const TChannelDemod&) = delete;
  TChannelDemod& operator=(const TChannelDemod&) = delete;

  // Runs the chain on n samples. audio points into the demodulator's own buffer and stays valid until
  // the next call; count 0 and a null pointer when n <= 0 or a stage produced nothing.
  void Process(const TComplexF* iq, int32_t n, const float*& audio, int32_t& count);

  // Set by the owner after every block: true while the channel's squelch is closed, so the gain does
  // not climb on noise during the next block.
  bool HoldAgc = false;

  double InputRate() const { return FInputRate; }
  int64_t ChannelHz() const { return FChannelHz; }
  int64_t CentreHz() const { return FCentreHz; }
  TModulation Mode() const { return FMode; }
  int32_t AudioRate() const { return FAudioRate; }
  int32_t StageCount() const { return static_cast<int32_t>(FStages.size()); }
  double StageRate() const { return FStageRate; }
  // Taps of the channel filter (the band-pass for LSB/USB).
  int32_t ChannelTapCount() const;
  const TResampler& Resampler() const { return *FResampler; }
  float Gain() const { return FGain; }
  double PhasorRe() const { return FPhRe; }
  double PhasorIm() const { return FPhIm; }
  // Keeps the oscillator on its SSE2 path whatever the processor (for tests: the bits are the same).
  void UseSse2Mixer() { FMixAvx = false; }

 private:
  void BuildChain();
  void EnsureBuffers(int32_t n);
  void Mix(const TComplexF* iq, int32_t n);
  void Demodulate(const TComplexF* x, int32_t m);
  void AudioAgc(int32_t k);

  double FInputRate;
  int64_t FChannelHz;
  int64_t FCentreHz;
  TModulation FMode;
  int32_t FAudioRate;

  // Oscillator (double precision; renormalised every 1024 samples). The phasor advances four samples
  // at a time (by step^4) and each sample's phasor is phasor * step^j, j = its place in the group of
  // four: one dependent multiplication per four samples instead of one per sample. Groups count from
  // the first sample of the stream, so the mixer's output does not depend on block boundaries.
  double FPhRe = 1.0, FPhIm = 0.0;  // at the start of the current group
  double FStepRe[4] = {1.0, 1.0, 1.0, 1.0}, FStepIm[4] = {0.0, 0.0, 0.0, 0.0};  // step^0 .. step^3
  double FStep4Re = 1.0, FStep4Im = 0.0;
  int32_t FGroupPos = 0;  // 0..3: the place of the next sample in its group
  int32_t FRenorm = 0;
  bool FMixAvx = false;  // the oscillator's AVX path where the processor runs it (same bits as SSE2)

  std::vector<std::unique_ptr<TFirDecim>> FStages;
  std::unique_ptr<TFirDecim> FChannelFilter;
  std::unique_ptr<TFirComplexBp> FSsbFilter;
  std::unique_ptr<TResampler> FResampler;
  double FStageRate = 0.0;

  TComplexFArray FMixBuf, FPing, FPong, FFiltBuf;
  TSingleArray FDemodBuf, FAudioBuf;

  TComplexF FPrev{0.0f, 0.0f};  // FM: previous sample
  float FDeemph = 0.0f;
  float FAlpha = 0.0f;
  float FDc = 0.0f;
  float FGain = 1.0f;
};
