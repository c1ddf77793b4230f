#include "uDemodTest.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <system_error>

#include "pConsoleOut.h"
#include "pFs.h"
#include "uAudioOut.h"
#include "uCliModes.h"
#include "uDemod.h"
#include "uDspKernels.h"
#include "uDwell.h"
#include "uEngineMain.h"
#include "uFft.h"
#include "uFreqText.h"
#include "uLevelTap.h"
#include "uOptions.h"
#include "uRecorder.h"
#include "uSdrSim.h"
#include "uWavWriter.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int32_t kToneFft = 8192;

// UTF-8 text <-> the standard library's paths (wide on Windows).
std::filesystem::path FsPath(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

int64_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(FsPath(path), ec);
  return ec ? 0 : static_cast<int64_t>(size);
}

// The names of the .wav files in folder, in name order.
std::vector<std::string> WavFiles(const std::string& folder) {
  std::vector<plat::TDirEntry> entries;
  plat::ListDirectory(folder, entries);
  std::vector<std::string> names;
  for (const plat::TDirEntry& e : entries) {
    if (e.IsDirectory || e.Name.size() < 4) continue;
    if (AsciiLower(e.Name.substr(e.Name.size() - 4)) == ".wav") names.push_back(e.Name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Seconds of 16-bit mono audio at 48000 S/s in a file of this size with a 44-byte header.
double WavSeconds(int64_t size) {
  return static_cast<double>(size - 44) * 0.5 / 48000.0;
}

// Time as the signal sees it, and the real time it is handed out in. Everything that measures hang,
// dwell and detection times in the recording test reads Signal, a manual clock moved only by the
// samples handed over (whole milliseconds, the remainder carried), so those times follow the signal
// exactly however fast or slow the machine runs. Pace waits on the real clock until the real time
// since the first call has caught up with the signal time, so the run goes at a receiver's pace; a
// late wake-up (a coarse timer, a busy machine) is caught up by the following steps, never lost.
class TSignalTime {
 public:
  explicit TSignalTime(plat::IClock& real) : FReal(real), FSignalStart(Signal.NowMs()) {}
  void Advance(double ms) {
    FCarryMs += ms;
    const double whole = std::floor(FCarryMs);
    FCarryMs -= whole;
    Signal.Advance(static_cast<uint64_t>(whole));
  }
  void Pace() {
    const uint64_t now = FReal.NowMs();
    if (!FStarted) {
      FStarted = true;
      FRealStart = now;
    }
    const uint64_t due = FRealStart + (Signal.NowMs() - FSignalStart);
    if (due > now) FReal.SleepMs(static_cast<uint32_t>(due - now));
  }
  plat::TManualClock Signal;

 private:
  plat::IClock& FReal;
  uint64_t FSignalStart;
  uint64_t FRealStart = 0;
  bool FStarted = false;
  double FCarryMs = 0;
};

// The record test's receiver: every read moves signal time by the samples it delivered.
class TSignalSim : public TSimDevice {
 public:
  explicit TSignalSim(TSignalTime& time) : FTime(time) {}
  bool ReadSync(uint8_t* buffer, int32_t count, int32_t& bytesRead) override {
    const bool ok = TSimDevice::ReadSync(buffer, count, bytesRead);
    if (ok && SampleRate > 0) FTime.Advance(bytesRead / 2 * 1000.0 / SampleRate);
    return ok;
  }

 private:
  TSignalTime& FTime;
};

// Null audio for the length of a run, whatever path leaves it.
struct TNullAudioScope {
  TNullAudioScope() { SetNullAudio(true); }
  ~TNullAudioScope() { SetNullAudio(false); }
};

}  // namespace

std::string TempFolder() {
  std::error_code ec;
  const std::filesystem::path p = std::filesystem::temp_directory_path(ec);
  if (ec) return std::string(1, plat::PathSeparator() == '\\' ? '.' : '/');
  const std::u8string u = p.u8string();
  std::string s(u.begin(), u.end());
  while (s.size() > 1 && (s.back() == '/' || s.back() == '\\') && s[s.size() - 2] != ':') s.pop_back();
  return s;
}

void ClearTestDir(const std::string& path) {
  std::vector<plat::TDirEntry> entries;
  plat::ListDirectory(path, entries);
  for (const plat::TDirEntry& e : entries) {
    const std::string full = JoinPath(path, e.Name);
    if (!e.IsDirectory) {
      plat::RemoveFile(full);
      continue;
    }
    std::vector<plat::TDirEntry> inner;
    plat::ListDirectory(full, inner);
    for (const plat::TDirEntry& f : inner)
      if (!f.IsDirectory) plat::RemoveFile(JoinPath(full, f.Name));
    plat::RemoveEmptyDirectory(full);
  }
  plat::RemoveEmptyDirectory(path);
}

// ---------------------------------------------------------------------------------------------
// Tone measurement

double MeasureTone(const float* samples, int32_t count, double sampleRate, std::vector<double>* power) {
  TFftPlan plan(kToneFft);
  TComplexFArray buf(kToneFft, TComplexF{0.0f, 0.0f});
  const int32_t n = std::clamp(count, 0, kToneFft);
  for (int32_t i = 0; i < n; ++i) buf[static_cast<size_t>(i)].Re = samples[i];
  plan.ApplyWindow(buf.data(), buf.data());
  plan.Execute(buf.data());
  if (power) power->assign(kToneFft / 2, 0.0);
  int32_t peakBin = 1;
  double peakPower = 0;
  for (int32_t k = 0; k < kToneFft / 2; ++k) {
    const double re = buf[static_cast<size_t>(k)].Re, im = buf[static_cast<size_t>(k)].Im;
    const double p = re * re + im * im;
    if (power) (*power)[static_cast<size_t>(k)] = p;
    if (k >= 1 && p > peakPower) {
      peakPower = p;
      peakBin = k;
    }
  }
  return peakBin * sampleRate / kToneFft;
}

bool MeasureWavFile(const std::string& path, double sampleRate, double& toneHz, double& rms) {
  toneHz = 0;
  rms = 0;
  std::ifstream in(FsPath(path), std::ios::binary);
  if (!in) return false;
  const int64_t size = FileSize(path);
  if (size <= 44 + kToneFft * 2) return false;
  const int64_t want = (size - 44) / 2;
  std::vector<int16_t> raw(static_cast<size_t>(want));
  in.seekg(44);
  in.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(want * 2));
  const int64_t got = in.gcount() / 2;
  if (got < kToneFft) return false;
  std::vector<float> x(static_cast<size_t>(got));
  double sum = 0;
  for (int64_t i = 0; i < got; ++i) {
    // WAV data is little-endian, as is every processor this program is built for.
    const float v = static_cast<float>(raw[static_cast<size_t>(i)]) / 32768.0f;
    x[static_cast<size_t>(i)] = v;
    sum += static_cast<double>(v) * v;
  }
  rms = std::sqrt(sum / static_cast<double>(got));
  toneHz = MeasureTone(x.data() + (got - kToneFft) / 2, kToneFft, sampleRate);
  return true;
}

// ---------------------------------------------------------------------------------------------
// --selftest-demod

bool TestDemodTone(const char* name, TModulation modulation, double toneHz, double deviationHz, bool beside,
                   int64_t offsetHz) {
  auto sim = std::make_shared<TSimDevice>();
  sim->NoiseDb = ParseFloat(GetOption("noise", ""), -75);
  if (modulation == modAM)
    sim->AddAmTone(145050000, -20, toneHz, 0.7);
  else
    sim->AddFmTone(145050000, -20, toneHz, deviationHz);
  sim->Open(0);
  sim->SetSampleRate(2048000);
  sim->SetCenterFreq(145000000);
  TChannelDemod demod(2048000, 145000000, 145050000 + offsetHz, modulation, 48000);

  std::vector<uint8_t> bytes(65536);
  TComplexFArray iq(bytes.size() / 2);
  std::vector<float> audio;
  audio.reserve(48000);
  for (int block = 0; block < 44; ++block) {
    int32_t got = 0;
    sim->ReadSync(bytes.data(), static_cast<int32_t>(bytes.size()), got);
    const int32_t pairs = std::clamp(got, 0, static_cast<int32_t>(bytes.size())) / 2;
    ConvertU8ToComplex(bytes.data(), iq.data(), pairs);
    const float* out = nullptr;
    int32_t count = 0;
    demod.Process(iq.data(), pairs, out, count);
    if (block < 14 || count <= 0 || out == nullptr) continue;  // the chain's start-up is not judged
    const size_t take = std::min(static_cast<size_t>(count), 48000 - audio.size());
    audio.insert(audio.end(), out, out + take);
  }
  const int32_t n = static_cast<int32_t>(audio.size());
  if (n < 4096) {
    PrintFmt("# FAIL %-4s no audio produced (%d samples)", name, n);
    return false;
  }
  double sum = 0;
  for (float v : audio) sum += static_cast<double>(v) * v;
  const double rms = std::sqrt(sum / n);
  // The newest 8192 samples; with fewer, all of them (padded with silence).
  const int32_t first = std::max(n - kToneFft, 0);
  std::vector<double> power;
  const double measured = MeasureTone(audio.data() + first, n - first, 48000, &power);
  if (HasOption("spectrum")) {
    const double peak = *std::max_element(power.begin() + 1, power.end());
    for (int32_t k = 1; k < kToneFft / 2; ++k)
      if (power[static_cast<size_t>(k)] > 0.005 * peak)
        PrintFmt("#    %-4s %8.1f Hz  %6.1f dBc", name, k * 48000.0 / kToneFft,
                 10 * std::log10(power[static_cast<size_t>(k)] / peak));
  }
  const double err = std::fabs(measured - toneHz);
  const bool pass = err < 20 && rms > 0.01;
  const char* lead = beside ? "#     " : pass ? "# OK  " : "# FAIL";
  PrintFmt("%s %-4s tone %.0f Hz -> %.1f Hz (err %.1f Hz), rms %.3f", lead, name, toneHz, measured, err, rms);
  return pass;
}

void RunDemodSelfTest() {
  plat::WriteConsoleLine("# demod selftest: synthetic signals, no hardware required");
  plat::WriteConsoleLine("# SIMD: " + KernelDescription());
  bool ok = true;
  ok = TestDemodTone("NFM", modNFM, 1000, 3000, false, 0) && ok;
  ok = TestDemodTone("NFM", modNFM, 2400, 3000, false, 0) && ok;
  ok = TestDemodTone("WFM", modWFM, 1000, 50000, false, 0) && ok;
  ok = TestDemodTone("AM", modAM, 1000, 0, false, 0) && ok;
  plat::WriteConsoleLine("# tuned beside the channel on purpose - these are SUPPOSED to be bad:");
  TestDemodTone("NFM", modNFM, 1000, 3000, true, 2500);
  TestDemodTone("NFM", modNFM, 1000, 3000, true, 5000);

  const std::string path = JoinPath(TempFolder(), "talvoran_selftest.wav");
  std::vector<float> sine(48000);
  for (size_t i = 0; i < sine.size(); ++i)
    sine[i] = static_cast<float>(0.5 * std::sin(2 * kPi * 440 * static_cast<double>(i) / 48000));
  {
    TWavWriter wav(path, wkAudio, 48000, 145000000);
    wav.WriteMono(sine.data(), static_cast<int32_t>(sine.size()));
    PrintFmt("# wav duration %.3f s", wav.Seconds());
  }  // the writer finishes the file
  const int64_t size = FileSize(path);
  plat::RemoveFile(path);
  if (size == 96044) {
    PrintFmt("# OK   wav  %lld bytes", static_cast<long long>(size));
  } else {
    PrintFmt("# FAIL wav  %lld bytes, expected %d", static_cast<long long>(size), 96044);
    ok = false;
  }

  if (ok) {
    plat::WriteConsoleLine("# PASS demod chain");
  } else {
    plat::WriteConsoleLine("# FAIL demod chain");
    SetExitCode(1);
  }
}

// ---------------------------------------------------------------------------------------------
// --selftest-record

namespace {

// What the block hook shares with the run (one run at a time, on the main thread).
struct TRecordState {
  TSimDevice* Sim = nullptr;
  TSignalTime* Time = nullptr;
  int32_t Blocks = 0;
  int32_t StopAfter = 0;
  bool CarrierOff = false;
  int32_t MaxLanes = 0;
  int64_t LaneKey = 0;
  int64_t MaxSamples = 0;
};
TRecordState gRecord;

// Polled by the dwell runner before every read: paces the reads to the receiver's real pace, watches
// the level lanes and switches the carrier off after --stop-after blocks. Never ends the dwell.
bool RecordBlockHook(void*) {
  TRecordState& st = gRecord;
  if (st.Time) st.Time->Pace();
  ++st.Blocks;
  TLevelLaneInfoArray lanes;
  GetLevelLanes(0, 1, lanes);
  st.MaxLanes = std::max(st.MaxLanes, static_cast<int32_t>(lanes.size()));
  if (!lanes.empty() && lanes[0].Count > st.MaxSamples) {
    st.MaxSamples = lanes[0].Count;
    st.LaneKey = lanes[0].Key;
  }
  if (st.StopAfter > 0 && st.Blocks >= st.StopAfter && !st.CarrierOff && st.Sim) {
    st.Sim->ClearTones();
    st.CarrierOff = true;
    PrintFmt("# signal off after %d blocks", st.Blocks);
  }
  return false;
}

}  // namespace

bool TestLiveRecording(const std::string& root, plat::IClock& clock) {
  plat::WriteConsoleLine("# live recording: demodulated audio -> recorder, no device");
  TTalvConfig cfg;
  ConfigDefaults(cfg);
  cfg.AudioRate = 48000;
  cfg.RecordAudio = true;
  cfg.Modulation = modNFM;
  const int64_t channel = 145012500;
  TSignalTime time(clock);
  auto rec = TChannelRecorder::Create(cfg, root, channel, modNFM, time.Signal);

  // Rounds of 1024 samples, handed over at the pace 48000 S/s audio arrives.
  constexpr int32_t kRound = 1024;
  constexpr double kRoundMs = kRound * 1000.0 / 48000.0;
  std::vector<float> buf(kRound);
  double phase = 0;
  const double step = 2 * kPi * 1000 / 48000;
  for (int round = 0; round < 96; ++round) {
    time.Pace();
    for (float& v : buf) {
      v = static_cast<float>(0.5 * std::sin(phase));
      phase += step;
    }
    if (round % 10 == 0) rec->Trigger(25);
    if (!rec->StillActive()) rec->Close();
    rec->FeedAudio(buf.data(), kRound);
    time.Advance(kRoundMs);
  }
  std::fill(buf.begin(), buf.end(), 0.0f);
  const uint64_t end = time.Signal.NowMs() + static_cast<uint64_t>(std::max(cfg.HangTimeMs, 0)) + 700;
  while (time.Signal.NowMs() < end) {
    time.Pace();
    if (!rec->StillActive()) rec->Close();
    rec->FeedAudio(buf.data(), kRound);
    time.Advance(kRoundMs);
  }
  rec->Close();
  rec.reset();

  const std::string folder = ChannelFolder(root, channel);
  const std::vector<std::string> files = WavFiles(folder);
  bool ok = true;
  for (const std::string& name : files) {
    const std::string path = JoinPath(folder, name);
    const double seconds = WavSeconds(FileSize(path));
    double tone = 0, rms = 0;
    if (MeasureWavFile(path, 48000, tone, rms))
      PrintFmt("# %s  %.2f s  tone %.0f Hz  rms %.3f", name.c_str(), seconds, tone, rms);
    else
      PrintFmt("# %s  %.2f s", name.c_str(), seconds);
    if (std::fabs(tone - 1000) > 30) {
      plat::WriteConsoleLine("# FAIL recorded tone is wrong");
      ok = false;
    }
    if (seconds < 1.5 || seconds > 3.0) {
      plat::WriteConsoleLine("# FAIL expected about 2 s of audio");
      ok = false;
    }
  }
  if (files.size() != 1) {
    PrintFmt("# FAIL expected exactly one file in %s, found %d", folder.c_str(),
             static_cast<int>(files.size()));
    ok = false;
  }
  return ok;
}

void RunRecordSelfTest(plat::IClock& clock) {
  plat::WriteConsoleLine("# record selftest: synthetic device, no hardware required");
  plat::WriteConsoleLine("# SIMD: " + KernelDescription());
  // Play-all opens a wave output; the test must not need (or disturb) a sound device.
  TNullAudioScope nullAudio;
  const std::string root = JoinPath(TempFolder(), "talvoran_rectest");
  ClearTestDir(root);
  EnsureFolder(root);

  TSignalTime time(clock);
  auto sim = std::make_shared<TSignalSim>(time);
  sim->NoiseDb = -60;
  const int64_t carrier = 145000000 + ParseFreq(GetOption("tone-offset", ""), 500000);
  const int64_t channel = RoundToStep(carrier, 12500);
  sim->AddFmTone(carrier, -25, 1000, 3000);
  sim->Open(0);

  TTalvConfig cfg;
  ConfigDefaults(cfg);
  cfg.SampleRate = 2048000;
  cfg.Modulation = modNFM;
  cfg.RecordAudio = true;
  cfg.SnrDb = 12;
  cfg.GridHz = 12500;
  cfg.SettleMs = 0;
  cfg.AudioRate = 48000;
  TScanSettings scan;
  DefaultScanSettings(scan);
  scan.SampleRate = 2048000;
  scan.FftSize = 4096;
  scan.Averages = 4;
  scan.ThresholdDb = 12;
  scan.GridHz = 12500;

  gRecord = TRecordState{};
  gRecord.Sim = sim.get();
  gRecord.Time = &time;
  gRecord.StopAfter = ParseInt(GetOption("stop-after", ""), 0);

  bool ok = true;
  {
    auto runner = std::make_unique<TDwellRunner>(sim, cfg, scan, root, time.Signal);
    std::atomic<bool> playAll{true};
    runner->PlayAllRef = &playAll;
    SetLevelLanes({channel});
    const TDwellResult result = runner->Run(145000000, 144000000, 146000000, TChannelHitArray{}, 6000,
                                            nullptr, RecordBlockHook, nullptr);
    PrintFmt("# dwell finished, result %d", static_cast<int>(result));
    if (!runner->ErrorText().empty()) plat::WriteConsoleLine("# dwell error: " + runner->ErrorText());

    PrintFmt("# play-all: %d lane(s), %lld sample(s) published to %s", gRecord.MaxLanes,
             static_cast<long long>(gRecord.MaxSamples), FormatMHz(gRecord.LaneKey).c_str());
    if (gRecord.MaxSamples <= 0) {
      plat::WriteConsoleLine(
          "# FAIL play-all fed no envelope samples - the multi-channel view would show empty strips");
      ok = false;
    } else if (gRecord.LaneKey != channel) {
      PrintFmt("# FAIL lane is %s, expected %s", FormatMHz(gRecord.LaneKey).c_str(),
               FormatMHz(channel).c_str());
      ok = false;
    }
  }  // the runner is freed here
  gRecord.Sim = nullptr;
  gRecord.Time = nullptr;
  ClearLevelLanes();

  const std::string folder = ChannelFolder(root, channel);
  const std::vector<std::string> files = WavFiles(folder);
  int64_t sizes = 0;
  for (const std::string& name : files) {
    const std::string path = JoinPath(folder, name);
    const int64_t size = FileSize(path);
    sizes += size;
    double tone = 0, rms = 0;
    if (MeasureWavFile(path, 48000, tone, rms)) {
      PrintFmt("# %s  %.2f s  tone %.0f Hz (err %.0f Hz)  rms %.3f", name.c_str(), WavSeconds(size), tone,
               std::fabs(tone - 1000), rms);
      if (std::fabs(tone - 1000) > 30) {
        PrintFmt("# FAIL recorded tone is %.0f Hz, expected %d Hz", tone, 1000);
        ok = false;
      }
    } else {
      PrintFmt("# %s  %.2f s  (too short to measure)", name.c_str(), WavSeconds(size));
    }
  }
  if (files.empty()) {
    plat::WriteConsoleLine("# FAIL no recording was written to " + folder);
    ok = false;
  } else {
    const double total = static_cast<double>(sizes - 44 * static_cast<int64_t>(files.size())) * 0.5 / 48000.0;
    const double onTime =
        gRecord.StopAfter > 0 ? gRecord.StopAfter * 32768.0 / 2048000.0 : (6000 - cfg.HangTimeMs) / 1000.0;
    PrintFmt("# %d file(s), %.2f s total, signal was on for %.2f s", static_cast<int>(files.size()), total,
             onTime);
    if (total < 0.8 * onTime) {
      plat::WriteConsoleLine("# FAIL recording is shorter than the transmission");
      ok = false;
    }
  }

  if (!TestLiveRecording(root, clock)) ok = false;
  if (ok)
    plat::WriteConsoleLine("# PASS record chain");
  else
    SetExitCode(1);
}
