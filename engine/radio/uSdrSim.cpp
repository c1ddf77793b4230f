#include "uSdrSim.h"

#include <cmath>
#include <limits>

namespace {

constexpr double kPi = 3.14159265358979311600e+00;
constexpr double kTwoPi = 2.0 * kPi;

// Rounds to the nearest integer, ties to even, for |x| < 2^51: adding and removing 1.5 * 2^52 leaves
// the rounding to the FPU's default mode, which every build uses.
inline double RoundHalfEvenSmall(double x) {
  const double big = 6755399441055744.0;  // 1.5 * 2^52
  return (x + big) - big;
}

// Splits of pi/2 (first 33 bits, and the rest), of ln 2 (first 32 bits, and the rest).
constexpr double kInvPio2 = 6.36619772367581382433e-01;
constexpr double kPio2Hi = 1.57079632673412561417e+00;
constexpr double kPio2Lo = 6.07710050650619224932e-11;
constexpr double kLn2Hi = 6.93147180369123816490e-01;
constexpr double kLn2Lo = 1.90821492927058770002e-10;
constexpr double kInvLn2 = 1.44269504088896338700e+00;
constexpr double kLn10 = 2.30258509299404590109e+00;

// Minimax polynomials on [-pi/4, pi/4] for sine and cosine.
inline double KernelSin(double x) {
  const double S1 = -1.66666666666666324348e-01, S2 = 8.33333333332248946124e-03,
               S3 = -1.98412698298579493134e-04, S4 = 2.75573137070700676789e-06,
               S5 = -2.50507602534068634195e-08, S6 = 1.58969099521155010221e-10;
  double z = x * x;
  double v = z * x;
  double r = S2 + z * (S3 + z * (S4 + z * (S5 + z * S6)));
  return x + v * (S1 + z * r);
}

inline double KernelCos(double x) {
  const double C1 = 4.16666666666666019037e-02, C2 = -1.38888888888741095749e-03,
               C3 = 2.48015872894767294178e-05, C4 = -2.75573143513906633035e-07,
               C5 = 2.08757232129817482790e-09, C6 = -1.13596475577881948265e-11;
  double z = x * x;
  double r = z * (C1 + z * (C2 + z * (C3 + z * (C4 + z * (C5 + z * C6)))));
  double hz = 0.5 * z;
  double w = 1.0 - hz;
  return w + (((1.0 - w) - hz) + z * r);
}

}  // namespace

void SimSinCos(double x, double& s, double& c) {
  if (!std::isfinite(x)) {
    s = c = std::numeric_limits<double>::quiet_NaN();
    return;
  }
  // Phases stay within a few turns; far larger arguments are first brought into one turn (fmod is
  // exact, so this stays build-independent).
  if (std::fabs(x) > 1e9) x = std::fmod(x, kTwoPi);
  double n = RoundHalfEvenSmall(x * kInvPio2);
  double r = (x - n * kPio2Hi) - n * kPio2Lo;
  double sr = KernelSin(r);
  double cr = KernelCos(r);
  switch (static_cast<int64_t>(n) & 3) {
    case 0:
      s = sr;
      c = cr;
      break;
    case 1:
      s = cr;
      c = -sr;
      break;
    case 2:
      s = -sr;
      c = -cr;
      break;
    default:
      s = -cr;
      c = sr;
      break;
  }
}

double SimSin(double x) {
  double s, c;
  SimSinCos(x, s, c);
  return s;
}

double SimLn(double x) {
  const double Lg1 = 6.666666666666735130e-01, Lg2 = 3.999999999940941908e-01, Lg3 = 2.857142874366239149e-01,
               Lg4 = 2.222219843214978396e-01, Lg5 = 1.818357216161805012e-01, Lg6 = 1.531383769920937332e-01,
               Lg7 = 1.479819860511658591e-01;
  if (std::isnan(x) || x < 0) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0) return -std::numeric_limits<double>::infinity();
  if (std::isinf(x)) return x;
  int e = 0;
  double m = std::frexp(x, &e);  // exact: x = m * 2^e, m in [0.5, 1)
  if (m < 0.70710678118654752440) {
    m *= 2.0;
    e -= 1;
  }
  double f = m - 1.0;
  double k = e;
  double s = f / (2.0 + f);
  double z = s * s;
  double w = z * z;
  double t1 = w * (Lg2 + w * (Lg4 + w * Lg6));
  double t2 = z * (Lg1 + w * (Lg3 + w * (Lg5 + w * Lg7)));
  double R = t2 + t1;
  double hfsq = 0.5 * f * f;
  return k * kLn2Hi - ((hfsq - (s * (hfsq + R) + k * kLn2Lo)) - f);
}

double SimExp(double x) {
  const double P1 = 1.66666666666666019037e-01, P2 = -2.77777777770155933842e-03,
               P3 = 6.61375632143793436117e-05, P4 = -1.65339022054652515390e-06,
               P5 = 4.13813679705723846039e-08;
  if (std::isnan(x)) return x;
  if (x > 709.782712893383973096) return std::numeric_limits<double>::infinity();
  if (x < -745.133219101941108420) return 0.0;
  double k = RoundHalfEvenSmall(x * kInvLn2);
  double hi = x - k * kLn2Hi;
  double lo = k * kLn2Lo;
  double r = hi - lo;
  double t = r * r;
  double c = r - t * (P1 + t * (P2 + t * (P3 + t * (P4 + t * P5))));
  double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
  return std::ldexp(y, static_cast<int>(k));  // exact scaling by a power of two
}

double SimDbToLin(double db) {
  return SimExp(db / 20.0 * kLn10);
}

uint8_t SimQuantise(double v) {
  if (!(v > 0)) return 0;  // also NaN
  if (v >= 255) return 255;
  return static_cast<uint8_t>(RoundHalfEvenSmall(v));
}

int32_t TSimDevice::AddTone(int64_t freqHz, double levelDb) {
  TSimTone tone;
  tone.FreqHz = freqHz;
  tone.LevelDb = levelDb;
  Tones.push_back(tone);
  CarrierPhases.push_back(0.0);
  ModPhases.push_back(0.0);
  return static_cast<int32_t>(Tones.size() - 1);
}

int32_t TSimDevice::AddFmTone(int64_t freqHz, double levelDb, double modHz, double deviationHz) {
  int32_t index = AddTone(freqHz, levelDb);
  Tones[index].Kind = 1;
  Tones[index].ModHz = modHz;
  Tones[index].DeviationHz = deviationHz;
  return index;
}

int32_t TSimDevice::AddAmTone(int64_t freqHz, double levelDb, double modHz, double depth) {
  int32_t index = AddTone(freqHz, levelDb);
  Tones[index].Kind = 2;
  Tones[index].ModHz = modHz;
  Tones[index].Depth = depth;
  return index;
}

void TSimDevice::ClearTones() {
  Tones.clear();
  CarrierPhases.clear();
  ModPhases.clear();
}

void TSimDevice::SetDcOffset(double i, double q) {
  DcI = i;
  DcQ = q;
  DcQGiven = true;
}

bool TSimDevice::Open(int32_t index) {
  Opened = true;
  return true;
}

void TSimDevice::Close() {
  Opened = false;
}

void TSimDevice::GetLimits(TSdrLimits& limits) {
  limits.MinHz = 1000000;
  limits.MaxHz = 6000000000LL;
  limits.MinRate = 100000;
  limits.MaxRate = 20000000;
}

bool TSimDevice::SetCenterFreq(int64_t hz) {
  if (SettleSamples > 0 && hz != CenterHz) {
    PrevCenterHz = CenterHz;
    SettleRemaining = SettleSamples;
  }
  CenterHz = hz;
  return true;
}

bool TSimDevice::SetSampleRate(double samplesPerSecond) {
  SampleRate = samplesPerSecond;
  return true;
}

bool TSimDevice::SetGain(double db) {
  GainLin = db >= 0 ? SimDbToLin(db) : 1.0;
  return true;
}

bool TSimDevice::StartAsync(TSdrSampleCallback callback, void* userData) {
  LastError = "streaming not implemented in the simulator";
  return false;
}

float TSimDevice::NextUniform() {
  Seed = Seed * 1664525u + 1013904223u;
  // The conversion through double is exact, so the value is rounded to single precision only once.
  return static_cast<float>(static_cast<double>(Seed)) * (1.0f / 4294967296.0f);
}

void TSimDevice::GaussPair(double& g1, double& g2) {
  double u1 = NextUniform();
  double u2 = NextUniform();
  if (u1 < 1e-12) u1 = 1e-12;
  double r = std::sqrt(-2.0 * SimLn(u1));
  double s, c;
  SimSinCos(kTwoPi * u2, s, c);
  g1 = r * c;
  g2 = r * s;
}

void TSimDevice::PrepareSteps(int64_t centre, std::vector<TToneStep>& steps) const {
  steps.resize(Tones.size());
  for (size_t t = 0; t < Tones.size(); ++t) {
    const TSimTone& tone = Tones[t];
    TToneStep& st = steps[t];
    int64_t d = tone.FreqHz - centre;
    // A tone exactly at the band edge still counts.
    st.InBand = !(std::fabs(static_cast<double>(d)) > SampleRate / 2);
    st.Amp = SimDbToLin(tone.LevelDb);
    st.Step = kTwoPi * static_cast<double>(d) / SampleRate;
    st.ModStep = kTwoPi * tone.ModHz / SampleRate;
    st.DevStep = kTwoPi * tone.DeviationHz / SampleRate;
  }
}

bool TSimDevice::ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) {
  bytesRead = 0;
  if (!Opened) {
    LastError = "not open";
    return false;
  }
  int32_t n = count > 0 && buffer ? count / 2 : 0;
  double noise = SimDbToLin(NoiseDb);
  double qOffset = DcQGiven ? DcQ : DcI;
  // Tests may fill Tones directly; every tone needs its two phases.
  if (CarrierPhases.size() < Tones.size()) CarrierPhases.resize(Tones.size(), 0.0);
  if (ModPhases.size() < Tones.size()) ModPhases.resize(Tones.size(), 0.0);
  PrepareSteps(CenterHz, FSteps);
  if (SettleRemaining > 0) PrepareSteps(PrevCenterHz, FPrevSteps);
  const size_t toneCount = Tones.size();

  for (int32_t k = 0; k < n; ++k) {
    const TToneStep* steps = FSteps.data();
    if (SettleRemaining > 0) {
      steps = FPrevSteps.data();
      --SettleRemaining;
    }
    double g1, g2;
    GaussPair(g1, g2);
    double i = g1 * noise + DcI;
    double q = g2 * noise + qOffset;
    for (size_t t = 0; t < toneCount; ++t) {
      const TToneStep& st = steps[t];
      if (!st.InBand) continue;  // out of band: its phases stand still
      const TSimTone& tone = Tones[t];
      double a = st.Amp;
      double s = st.Step;
      if (tone.Kind == 1 || tone.Kind == 2) {
        double& mp = ModPhases[t];
        double m = SimSin(mp);
        if (tone.Kind == 1)
          s = s + m * st.DevStep;
        else
          a = a * (m * tone.Depth + 1.0);
        mp += st.ModStep;
        if (mp > kTwoPi) mp -= kTwoPi;
      }
      double& cp = CarrierPhases[t];
      double sn, cs;
      SimSinCos(cp, sn, cs);
      i += cs * a;
      q += sn * a;
      cp += s;
      if (cp > kTwoPi)
        cp -= kTwoPi;
      else if (cp < -kTwoPi)
        cp += kTwoPi;
    }
    buffer[2 * k] = SimQuantise(i * GainLin * 128.0 + 127.4);
    buffer[2 * k + 1] = SimQuantise(q * GainLin * 128.0 + 127.4);
  }
  bytesRead = 2 * n;
  return true;
}
