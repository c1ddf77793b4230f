#pragma once
// A receiver without hardware. TSimDevice synthesises the 8-bit offset-binary I/Q stream a receiver
// would deliver at the tuned centre and rate: a list of simulated signals (plain carriers, FM tones,
// AM tones), Gaussian noise and a DC offset, scaled by a linear gain and quantised. The self tests
// build their scenes on it and write its public fields directly.
//
// Its output is a pure function of its fields: every new instance starts its random generator from
// the same seed, and all maths (the random draws, sine, cosine, logarithm, powers of ten, rounding)
// is done by the routines below with plain IEEE double operations only, never the C library's
// transcendental functions, so the bytes are the same on every run and on every build (native, Win64,
// Win32). It can also imitate a tuner that needs time to settle: after a retune it keeps producing
// SettleSamples samples at the previous centre, so tests can check that those samples are discarded.
//
// It never waits, never fails once open, and takes no lock: one thread drives an instance at a time.
#include <cstdint>
#include <string>
#include <vector>

#include "uSdrIntf.h"

// One simulated signal.
struct TSimTone {
  uint8_t Kind = 0;        // 0 carrier, 1 FM tone, 2 AM tone
  int64_t FreqHz = 0;      // absolute frequency
  double LevelDb = 0;      // amplitude relative to full scale: 10^(LevelDb/20)
  double ModHz = 0;        // modulating tone (FM and AM)
  double DeviationHz = 0;  // peak deviation (FM)
  double Depth = 0;        // modulation depth 0..1 (AM)
};
using TSimToneArray = std::vector<TSimTone>;

class TSimDevice : public ISdrDevice {
 public:
  TSimDevice() = default;  // closed, with the initial values below

  // Appends a carrier (kind 0) with zero phases; returns its index. AddCarrier is the same.
  int32_t AddTone(int64_t freqHz, double levelDb);
  int32_t AddCarrier(int64_t freqHz, double levelDb) { return AddTone(freqHz, levelDb); }
  int32_t AddFmTone(int64_t freqHz, double levelDb, double modHz, double deviationHz);
  int32_t AddAmTone(int64_t freqHz, double levelDb, double modHz, double depth);
  void ClearTones();
  // Sets both offsets; until this is called Q takes the I offset.
  void SetDcOffset(double i, double q);

  TSdrKind Kind() override { return skNone; }
  std::string GetName() override { return "Simulated SDR"; }
  std::string GetLastError() override { return LastError; }
  bool NeedsDcBlock() override { return DcI != 0 || (DcQGiven && DcQ != 0); }
  bool HasHardwareAgc() override { return false; }
  bool Open(int32_t index) override;
  void Close() override;
  bool IsOpen() override { return Opened; }
  void GetLimits(TSdrLimits& limits) override;
  bool SamplesSigned() override { return false; }
  bool SetCenterFreq(int64_t hz) override;
  int64_t GetCenterFreq() override { return CenterHz; }
  bool SetSampleRate(double samplesPerSecond) override;
  double GetSampleRate() override { return SampleRate; }
  bool SetGain(double db) override;
  bool SetFreqCorrection(int32_t ppm) override { return true; }
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override;
  bool ResetBuffer() override { return true; }
  bool StartAsync(TSdrSampleCallback callback, void* userData) override;
  void StopAsync() override {}
  bool IsStreaming() override { return false; }

  // Fields the tests and self tests write.
  bool Opened = false;
  int64_t CenterHz = 100000000;
  double SampleRate = 2048000;
  std::vector<double> CarrierPhases;  // running carrier phase per tone, radians
  std::vector<double> ModPhases;      // running phase of each tone's modulating tone
  TSimToneArray Tones;
  double NoiseDb = -70.0;    // standard deviation of each of I and Q is 10^(NoiseDb/20)
  uint32_t Seed = 22051977;  // random generator state
  double DcI = 0;
  double DcQ = 0;
  bool DcQGiven = false;
  double GainLin = 1.0;         // applied before quantising
  int32_t SettleSamples = 0;    // samples a retune takes to settle
  int32_t SettleRemaining = 0;  // samples still to be produced at PrevCenterHz
  int64_t PrevCenterHz = 0;
  std::string LastError;

  // One draw: Seed := Seed * 1664525 + 1013904223 (mod 2^32); yields Seed / 2^32 in single precision
  // (so it may round up to 1.0).
  float NextUniform();
  // Two independent standard normal values (Box-Muller from two draws).
  void GaussPair(double& g1, double& g2);

 private:
  // Per-read tone constants for one centre, kept between reads so reading allocates nothing.
  struct TToneStep {
    bool InBand;
    double Amp;
    double Step;     // carrier phase step at this centre
    double ModStep;  // modulation phase step
    double DevStep;  // FM: phase step per unit of sin(modulation phase)
  };
  void PrepareSteps(int64_t centre, std::vector<TToneStep>& steps) const;
  std::vector<TToneStep> FSteps;
  std::vector<TToneStep> FPrevSteps;
};

// Build-independent maths: results depend only on IEEE double +, -, *, / and sqrt, so they are
// identical on every compiler and C library. Accurate to a few units in the last place.
void SimSinCos(double x, double& s, double& c);
double SimSin(double x);
double SimLn(double x);  // natural logarithm; x <= 0 gives -infinity (0) or NaN
double SimExp(double x);
double SimDbToLin(double db);  // 10^(db/20)
// Rounds to the nearest integer, ties to even, and clamps to 0..255 (NaN gives 0).
uint8_t SimQuantise(double v);
