#include "uTalvConfig.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

#include "pSystem.h"

// ---------------------------------------------------------------------------------------------
// Modulation table

namespace {

struct TModulationRow {
  const char* Name;
  double WidthHz;
  double CutoffHz;
};

const TModulationRow kModulations[] = {
    {"NFM", 12500.0, 5000.0}, {"WFM", 256000.0, 15000.0}, {"AM", 8000.0, 4000.0},
    {"LSB", 2700.0, 3000.0},  {"USB", 2700.0, 3000.0},
};
constexpr int kModulationCount = 5;

const TModulationRow& ModulationRow(TModulation m) {
  int i = static_cast<int>(m);
  return kModulations[(i >= 0 && i < kModulationCount) ? i : 0];
}

}  // namespace

std::string ModulationName(TModulation m) {
  return ModulationRow(m).Name;
}
double ModulationWidthHz(TModulation m) {
  return ModulationRow(m).WidthHz;
}
double ModulationCutoffHz(TModulation m) {
  return ModulationRow(m).CutoffHz;
}

// ---------------------------------------------------------------------------------------------
// Text helpers

std::string_view TrimText(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) < 33) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) < 33) --e;
  return s.substr(b, e - b);
}

std::string AsciiLower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string AsciiUpper(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

int64_t RoundHalfEven(double v) {
  if (std::isnan(v)) return 0;
  // 2^63 is exact as a double; everything at or beyond it does not fit.
  constexpr double kLimit = 9223372036854775808.0;
  if (v >= kLimit) return std::numeric_limits<int64_t>::max();
  if (v < -kLimit) return std::numeric_limits<int64_t>::min();
  // floor and the difference are exact in binary floating point, so ties are seen exactly and the
  // result does not depend on the processor's rounding mode.
  double f = std::floor(v);
  double diff = v - f;
  int64_t r = static_cast<int64_t>(f);
  if (diff > 0.5) return r + 1;
  if (diff < 0.5) return r;
  return (r % 2 == 0) ? r : r + 1;
}

namespace {

// An optional "+" that from_chars itself does not take; a second sign after it is refused.
bool SkipPlus(std::string_view& text) {
  if (!text.empty() && text[0] == '+') {
    text.remove_prefix(1);
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) return false;
  }
  return true;
}

}  // namespace

bool ParsePoint(std::string_view text, double& out) {
  if (!SkipPlus(text) || text.empty()) return false;
  double v = 0;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != end || !std::isfinite(v)) return false;
  out = v;
  return true;
}

bool ParseInt64(std::string_view text, int64_t& out) {
  if (!SkipPlus(text) || text.empty()) return false;
  int64_t v = 0;
  const char* end = text.data() + text.size();
  auto r = std::from_chars(text.data(), end, v, 10);
  if (r.ec != std::errc() || r.ptr != end) return false;
  out = v;
  return true;
}

std::string FormatPoint(double v, int decimals) {
  std::string buf(64, '\0');
  for (;;) {
    std::to_chars_result r = decimals < 0 ? std::to_chars(buf.data(), buf.data() + buf.size(), v)
                                          : std::to_chars(buf.data(), buf.data() + buf.size(), v,
                                                          std::chars_format::fixed, decimals);
    if (r.ec == std::errc()) {
      buf.resize(static_cast<size_t>(r.ptr - buf.data()));
      return buf;
    }
    buf.resize(buf.size() * 2);  // 1e308 with many decimals needs a few hundred characters
  }
}

// ---------------------------------------------------------------------------------------------
// Settings value parsers

namespace {

std::string CommaToPoint(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c == ',') c = '.';
  return r;
}

bool IsLetter(char c, char upper) {
  return c == upper || c == static_cast<char>(upper - 'A' + 'a');
}

}  // namespace

int64_t ParseIntDef(std::string_view text, int64_t dflt) {
  int64_t v = 0;
  return ParseInt64(TrimText(text), v) ? v : dflt;
}

double ParseFloatDef(std::string_view text, double dflt) {
  double v = 0;
  return ParsePoint(CommaToPoint(TrimText(text)), v) ? v : dflt;
}

int64_t ParseHz(std::string_view text, int64_t dflt) {
  std::string_view t = TrimText(text);
  if (t.size() > 1 && IsLetter(t[t.size() - 2], 'H') && IsLetter(t.back(), 'Z')) {
    t.remove_suffix(2);
    t = TrimText(t);
  }
  if (t.empty()) return dflt;
  double mult = 1.0;
  char last = t.back();
  if (IsLetter(last, 'G')) {
    mult = 1e9;
  } else if (IsLetter(last, 'K')) {
    mult = 1e3;
  } else if (IsLetter(last, 'M')) {
    mult = 1e6;
  }
  if (mult != 1.0) t.remove_suffix(1);
  double v = 0;
  if (!ParsePoint(CommaToPoint(TrimText(t)), v)) return dflt;
  double hz = v * mult;
  // A frequency that does not fit an Int64 is no frequency: keep the default rather than clamp.
  constexpr double kLimit = 9223372036854775808.0;
  if (!(hz > -kLimit && hz < kLimit)) return dflt;
  return RoundHalfEven(hz);
}

TModulation ParseModulation(std::string_view text, TModulation dflt) {
  std::string u = AsciiUpper(TrimText(text));
  for (int i = 0; i < kModulationCount; ++i)
    if (u == kModulations[i].Name) return static_cast<TModulation>(i);
  return dflt;
}

std::string Int64ToWide(int64_t v) {
  char buf[24];
  auto r = std::to_chars(buf, buf + sizeof(buf), v);
  return std::string(buf, r.ptr);
}

std::string FormatHz(int64_t hz) {
  // The magnitude as unsigned, so that the lowest Int64 has one too.
  uint64_t mag = hz < 0 ? uint64_t(0) - static_cast<uint64_t>(hz) : static_cast<uint64_t>(hz);
  std::string text;
  const char* unit;
  if (mag < 1000) {
    text = std::to_string(mag);
    unit = " Hz";
  } else {
    uint64_t div = mag < 1000000 ? 1000 : 1000000;
    int digits = mag < 1000000 ? 3 : 6;
    unit = mag < 1000000 ? " kHz" : " MHz";
    uint64_t whole = mag / div, rest = mag % div;
    text = std::to_string(whole);
    if (rest != 0) {
      std::string frac = std::to_string(rest);
      frac.insert(0, static_cast<size_t>(digits) - frac.size(), '0');
      while (!frac.empty() && frac.back() == '0') frac.pop_back();
      text += '.';
      text += frac;
    }
  }
  text += unit;
  return hz < 0 ? "-" + text : text;
}

// ---------------------------------------------------------------------------------------------
// The settings record

const char* const TalvConfigKeys[TalvConfigKeyCount] = {
    "DeviceType",    "DeviceIndex",        "DeviceSerial", "DeviceName",  "StartHz",     "StopHz",
    "SampleRate",    "Modulation",         "SnrDb",        "GridHz",      "GainDb",      "PpmCorrection",
    "RecordAudio",   "RecordDir",          "MaxParallel",  "HangTimeMs",  "MinRecordMs", "NFft",
    "AvgSegments",   "SettleMs",           "RefreshSec",   "AudioRate",   "MaxDwellMs",  "IfRecording",
    "ThumbAllWav",   "MergeChannels",      "LastLiveHz",   "HackRfLnaDb", "HackRfVgaDb", "HackRfAmp",
    "HackRfBiasTee", "StopEngineOnUnload",
};

void ConfigDefaults(TTalvConfig& cfg) {
  cfg = TTalvConfig{};
}

namespace {

// Positions in TalvConfigKeys.
enum TConfigKey {
  ckDeviceType,
  ckDeviceIndex,
  ckDeviceSerial,
  ckDeviceName,
  ckStartHz,
  ckStopHz,
  ckSampleRate,
  ckModulation,
  ckSnrDb,
  ckGridHz,
  ckGainDb,
  ckPpmCorrection,
  ckRecordAudio,
  ckRecordDir,
  ckMaxParallel,
  ckHangTimeMs,
  ckMinRecordMs,
  ckNFft,
  ckAvgSegments,
  ckSettleMs,
  ckRefreshSec,
  ckAudioRate,
  ckMaxDwellMs,
  ckIfRecording,
  ckThumbAllWav,
  ckMergeChannels,
  ckLastLiveHz,
  ckHackRfLnaDb,
  ckHackRfVgaDb,
  ckHackRfAmp,
  ckHackRfBiasTee,
  ckStopEngineOnUnload,
  ckCount
};
static_assert(ckCount == TalvConfigKeyCount, "one position per key");

// Integer keys are read as Int64; a value that does not fit the 32-bit field keeps the field, as a
// value that does not parse does, instead of storing a wrapped-around number.
void SetInt32(int32_t& field, std::string_view value) {
  int64_t v = ParseIntDef(value, field);
  if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
    field = static_cast<int32_t>(v);
}

// RecordAudio, ThumbAllWav, MergeChannels also take "yes"; the other switches do not.
bool BoolWithYes(std::string_view value) {
  std::string l = AsciiLower(value);
  return value == "1" || l == "true" || l == "yes" || l == "ja";
}

bool BoolWithoutYes(std::string_view value) {
  std::string l = AsciiLower(value);
  return value == "1" || l == "true" || l == "ja";
}

int KeyIndex(std::string_view key) {
  if (key == "SdrType") return ckDeviceType;
  for (int i = 0; i < TalvConfigKeyCount; ++i)
    if (key == TalvConfigKeys[i]) return i;
  return -1;
}

}  // namespace

bool ConfigSetKey(TTalvConfig& cfg, std::string_view key, std::string_view value) {
  const std::string_view v = TrimText(value);
  switch (KeyIndex(key)) {
    case ckDeviceType: {
      std::string l = AsciiLower(v);
      if (l != "rtlsdr" && l != "hackrf") return false;
      cfg.DeviceType = l;
      return true;
    }
    case ckDeviceIndex:
      SetInt32(cfg.DeviceIndex, v);
      return true;
    case ckDeviceSerial:
      cfg.DeviceSerial = std::string(v);
      return true;
    case ckDeviceName:
      cfg.DeviceName = std::string(v);
      return true;
    case ckStartHz:
      cfg.StartHz = ParseHz(v, cfg.StartHz);
      return true;
    case ckStopHz:
      cfg.StopHz = ParseHz(v, cfg.StopHz);
      return true;
    case ckSampleRate:
      cfg.SampleRate = ParseHz(v, cfg.SampleRate);
      return true;
    case ckModulation:
      cfg.Modulation = ParseModulation(v, cfg.Modulation);
      return true;
    case ckSnrDb:
      cfg.SnrDb = ParseFloatDef(v, cfg.SnrDb);
      return true;
    case ckGridHz:
      cfg.GridHz = ParseHz(v, cfg.GridHz);
      return true;
    case ckGainDb:
      cfg.GainDb = AsciiLower(v) == "auto" ? -1.0 : ParseFloatDef(v, cfg.GainDb);
      return true;
    case ckPpmCorrection:
      SetInt32(cfg.PpmCorrection, v);
      return true;
    case ckRecordAudio:
      cfg.RecordAudio = BoolWithYes(v);
      return true;
    case ckRecordDir:
      cfg.RecordDir = std::string(v);
      return true;
    case ckMaxParallel:
      SetInt32(cfg.MaxParallel, v);
      return true;
    case ckHangTimeMs:
      SetInt32(cfg.HangTimeMs, v);
      return true;
    case ckMinRecordMs:
      SetInt32(cfg.MinRecordMs, v);
      return true;
    case ckNFft:
      SetInt32(cfg.NFft, v);
      return true;
    case ckAvgSegments:
      SetInt32(cfg.AvgSegments, v);
      return true;
    case ckSettleMs:
      SetInt32(cfg.SettleMs, v);
      return true;
    case ckRefreshSec:
      SetInt32(cfg.RefreshSec, v);
      return true;
    case ckAudioRate:
      SetInt32(cfg.AudioRate, v);
      return true;
    case ckMaxDwellMs:
      SetInt32(cfg.MaxDwellMs, v);
      return true;
    case ckIfRecording:
      cfg.IfRecording = BoolWithoutYes(v);
      return true;
    case ckThumbAllWav:
      cfg.ThumbAllWav = BoolWithYes(v);
      return true;
    case ckMergeChannels:
      cfg.MergeChannels = BoolWithYes(v);
      return true;
    case ckLastLiveHz:
      cfg.LastLiveHz = ParseHz(v, cfg.LastLiveHz);
      return true;
    case ckHackRfLnaDb:
      SetInt32(cfg.HackRfLnaDb, v);
      return true;
    case ckHackRfVgaDb:
      SetInt32(cfg.HackRfVgaDb, v);
      return true;
    case ckHackRfAmp:
      cfg.HackRfAmp = BoolWithoutYes(v);
      return true;
    case ckHackRfBiasTee:
      cfg.HackRfBiasTee = BoolWithoutYes(v);
      return true;
    case ckStopEngineOnUnload:
      cfg.StopEngineOnUnload = BoolWithoutYes(v);
      return true;
    default:
      return false;
  }
}

void BoundRunSettings(TTalvConfig& cfg) {
  cfg.SettleMs = std::clamp(cfg.SettleMs, 0, kMaxSettleMs);
  cfg.HangTimeMs = std::clamp(cfg.HangTimeMs, 0, kMaxHangTimeMs);
  cfg.MaxDwellMs = std::clamp(cfg.MaxDwellMs, 0, kMaxDwellLimitMs);
  cfg.AudioRate = cfg.AudioRate < 1 ? 48000 : std::clamp(cfg.AudioRate, kMinAudioRate, kMaxAudioRate);
}

// ---------------------------------------------------------------------------------------------
// Hop plan

double UsableSpan(double sampleRate, double edgeFraction) {
  if (!(edgeFraction >= 0.0 && edgeFraction < 0.45)) edgeFraction = 0.075;
  return (1.0 - 2.0 * edgeFraction) * sampleRate;
}

namespace {

// (a + b) div 2, rounded toward zero, without overflowing for far-out values.
int64_t MidPoint(int64_t a, int64_t b) {
  int64_t sum;
  if (!__builtin_add_overflow(a, b, &sum)) return sum / 2;
  return a + static_cast<int64_t>((static_cast<uint64_t>(b) - static_cast<uint64_t>(a)) / 2);
}

}  // namespace

void BuildHops(TScanHopArray& hops, int64_t startHz, int64_t stopHz, double sampleRate, double edgeFraction) {
  hops.clear();
  const double span = UsableSpan(sampleRate, edgeFraction);
  if (!(span > 0.0) || startHz >= stopHz) return;
  const double width = static_cast<double>(stopHz) - static_cast<double>(startHz);
  const int64_t half = RoundHalfEven(span * 0.5);

  if (width <= span) {
    TScanHop h;
    h.CenterHz = MidPoint(startHz, stopHz);
    hops.push_back(h);
  } else {
    // A tiny usable span over a wide range would ask for millions of hops and exhaust memory; such a
    // plan is as unusable as an empty one, and the caller reports an empty plan.
    const double nd = std::ceil(width / span);
    if (!(nd <= static_cast<double>(MaxScanHops))) return;
    const int n = static_cast<int>(nd);
    const double step = width / n;
    hops.resize(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
      hops[static_cast<size_t>(i)].CenterHz = startHz + RoundHalfEven(step * (i + 0.5));
  }

  for (TScanHop& h : hops) {
    int64_t lo, hi;
    if (__builtin_sub_overflow(h.CenterHz, half, &lo) || lo < startHz) lo = startHz;
    if (__builtin_add_overflow(h.CenterHz, half, &hi) || hi > stopHz) hi = stopHz;
    h.LoHz = lo;
    h.HiHz = hi;
    h.WidthHz = hi - lo;
  }
}

// ---------------------------------------------------------------------------------------------
// Module folder and recordings folder

std::string ExeDir() {
  return plat::ModuleDir();
}

namespace {

bool IsSlash(char c) {
  return c == '\\' || c == '/';
}

// The root a "\rec" setting hangs from: the drive of the module folder ("C:"), or "\\server\share"
// when the module lies on a network share (its first two characters alone would give "\\\rec").
std::string WindowsRootOf(std::string_view exeDir) {
  if (exeDir.size() >= 2 && IsSlash(exeDir[0]) && IsSlash(exeDir[1])) {
    size_t server = exeDir.find_first_of("\\/", 2);
    if (server != std::string_view::npos) {
      size_t share = exeDir.find_first_of("\\/", server + 1);
      return std::string(exeDir.substr(0, share));
    }
  }
  return std::string(exeDir.substr(0, 2));
}

}  // namespace

std::string ResolveRecordDirIn(std::string_view recordDir, std::string_view exeDir, bool windowsRules) {
  const std::string_view t = TrimText(recordDir);
  if (t.empty()) return std::string(exeDir) + "recordings";

  std::string r;
  if (windowsRules) {
    // Windows takes "/" for "\" as well, so "C:/rec" and "//server/share" are absolute too.
    const bool drivePath = t.size() >= 3 && t[1] == ':' && IsSlash(t[2]);
    const bool networkPath = t.size() >= 2 && IsSlash(t[0]) && IsSlash(t[1]);
    if (drivePath || networkPath)
      r = std::string(t);
    else if (IsSlash(t[0]))
      r = WindowsRootOf(exeDir) + std::string(t);
    else
      r = std::string(exeDir) + std::string(t);
  } else {
    r = t[0] == '/' ? std::string(t) : std::string(exeDir) + std::string(t);
  }

  // One trailing separator goes, but not the one of a bare root: "C:" and "" would name the current
  // folder instead of the root.
  const bool bareRoot = windowsRules ? (r.size() == 3 && r[1] == ':' && IsSlash(r[2])) : r == "/";
  if (!bareRoot && !r.empty() && IsSlash(r.back())) r.pop_back();
  return r;
}

std::string ResolveRecordDir(std::string_view recordDir) {
  return ResolveRecordDirIn(recordDir, ExeDir(), plat::PathSeparator() == '\\');
}

std::string JoinPath(std::string_view dir, std::string_view name) {
  const char sep = plat::PathSeparator();
  std::string r(dir);
  if (!r.empty() && r.back() != sep && r.back() != '/') r += sep;
  r += name;
  return r;
}
