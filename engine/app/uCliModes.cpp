#include "uCliModes.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <memory>
#include <vector>

#include "pConsoleOut.h"
#include "pSystem.h"
#include "uAudioOut.h"
#include "uDspKernels.h"
#include "uEngineMain.h"
#include "uFreqText.h"
#include "uLive.h"
#include "uOptions.h"
#include "uScanner.h"
#include "uSdrDevices.h"
#include "uSdrHackRf.h"
#include "uSdrRtlSdr.h"

// ---------------------------------------------------------------------------------------------
// Console text

void PrintFmt(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const std::string text = VFormatLocal(fmt, args);
  va_end(args);
  plat::WriteConsoleLine(text);
}

// ---------------------------------------------------------------------------------------------
// Options

void ApplyScanOptions(TScanSettings& s) {
  DefaultScanSettings(s);
  s.StartHz = ParseFreq(GetOption("start", ""), s.StartHz);
  s.StopHz = ParseFreq(GetOption("stop", ""), s.StopHz);
  s.SampleRate = static_cast<double>(ParseFreq(GetOption("rate", ""), RoundHalfEven(s.SampleRate)));
  s.FftSize = ParseInt(GetOption("nfft", ""), s.FftSize);
  s.Averages = ParseInt(GetOption("avg", ""), s.Averages);
  s.ThresholdDb = ParseFloat(GetOption("snr", ""), s.ThresholdDb);
  s.GridHz = ParseFreq(GetOption("grid", ""), s.GridHz);
  s.GainDb = ParseFloat(GetOption("gain", ""), s.GainDb);
  s.Ppm = ParseInt(GetOption("ppm", ""), s.Ppm);
  s.SettleMs = ParseInt(GetOption("settle", ""), s.SettleMs);
  if (HasOption("nomerge")) s.Merge = false;
}

void ApplyReceiverOptions(TTalvConfig& cfg) {
  // The settings key takes only the two canonical names; the synonyms a user types are mapped first.
  const std::string sdr = GetOption("sdr", "rtlsdr");
  const TSdrKind kind = ParseSdrKind(sdr);
  if (kind != skNone) ConfigSetKey(cfg, "DeviceType", SdrKindName(kind));
  cfg.DeviceIndex = ParseInt(GetOption("device", ""), 0);
  cfg.DeviceSerial = GetOption("serial", "");
  cfg.GainDb = ParseFloat(GetOption("gain", ""), -1.0);
  cfg.HackRfLnaDb = ParseInt(GetOption("lna", ""), cfg.HackRfLnaDb);
  cfg.HackRfVgaDb = ParseInt(GetOption("vga", ""), cfg.HackRfVgaDb);
  cfg.HackRfAmp = HasOption("amp");
  cfg.HackRfBiasTee = HasOption("bias");
}

void ApplyLiveOptions(TTalvConfig& cfg) {
  ApplyReceiverOptions(cfg);
  cfg.SampleRate = ParseFreq(GetOption("rate", ""), cfg.SampleRate);
  cfg.PpmCorrection = ParseInt(GetOption("ppm", ""), cfg.PpmCorrection);
  cfg.AudioRate = ParseInt(GetOption("audiorate", ""), cfg.AudioRate);
  cfg.SnrDb = ParseFloat(GetOption("snr", ""), cfg.SnrDb);
  cfg.NFft = ParseInt(GetOption("nfft", ""), cfg.NFft);
  cfg.AvgSegments = ParseInt(GetOption("avg", ""), cfg.AvgSegments);
  cfg.GridHz = ParseFreq(GetOption("grid", ""), cfg.GridHz);
  cfg.HangTimeMs = ParseInt(GetOption("hang", ""), cfg.HangTimeMs);
  cfg.RecordAudio = HasOption("record");
  BoundRunSettings(cfg);
}

// ---------------------------------------------------------------------------------------------
// --list

void RunList() {
  plat::WriteConsoleLine("# SIMD: " + KernelDescription());
  plat::WriteConsoleLine("# record dir: " + ResolveRecordDir(""));
  if (!RtlSdrAvailable()) plat::WriteConsoleLine("# rtlsdr: " + RtlSdrLoadError());
  if (!HackRfAvailable()) plat::WriteConsoleLine("# hackrf: " + HackRfLoadError());
  const TSdrDeviceInfoArray devices = EnumerateSdrDevices();
  if (devices.empty()) {
    plat::WriteConsoleLine("# no receiver connected");
    return;
  }
  for (const TSdrDeviceInfo& d : devices)
    PrintFmt("DEVICE\t%d\t%s\t%s\t%s", d.Index, SdrKindName(d.Kind).c_str(), d.Name.c_str(),
             d.Serial.c_str());
}

// ---------------------------------------------------------------------------------------------
// --iqstat

TIqStats MeasureIq(const uint8_t* bytes, int32_t pairs, bool samplesSigned) {
  TIqStats st;
  st.Pairs = std::max(pairs, 0);
  if (st.Pairs == 0 || bytes == nullptr) return st;
  double sumI = 0, sumQ = 0, sumII = 0, sumQQ = 0, sumIQ = 0;
  uint8_t loI = 255, hiI = 0, loQ = 255, hiQ = 0;
  for (int32_t k = 0; k < st.Pairs; ++k) {
    const uint8_t bi = bytes[2 * k], bq = bytes[2 * k + 1];
    loI = std::min(loI, bi);
    hiI = std::max(hiI, bi);
    loQ = std::min(loQ, bq);
    hiQ = std::max(hiQ, bq);
    float i, q;
    if (samplesSigned) {
      i = static_cast<float>(static_cast<int8_t>(bi)) / 127.0f;
      q = static_cast<float>(static_cast<int8_t>(bq)) / 127.0f;
    } else {
      i = (static_cast<float>(bi) - 127.5f) / 127.5f;
      q = (static_cast<float>(bq) - 127.5f) / 127.5f;
    }
    sumI += i;
    sumQ += q;
    sumII += static_cast<double>(i) * i;
    sumQQ += static_cast<double>(q) * q;
    sumIQ += static_cast<double>(i) * q;
  }
  const double n = st.Pairs;
  st.MeanI = sumI / n;
  st.MeanQ = sumQ / n;
  st.RmsI = std::sqrt(sumII / n);
  st.RmsQ = std::sqrt(sumQQ / n);
  // A component that never changes (a stuck converter) has no correlation to speak of: its standard
  // deviation is zero, and what the sums leave of it is rounding noise, not a ratio worth dividing.
  const bool varies = loI != hiI && loQ != hiQ;
  if (st.RmsI > 0 && st.RmsQ > 0 && varies) {
    const double sdI = std::sqrt(std::max(sumII / n - st.MeanI * st.MeanI, 0.0));
    const double sdQ = std::sqrt(std::max(sumQQ / n - st.MeanQ * st.MeanQ, 0.0));
    if (sdI * sdQ > 0) st.Correlation = (sumIQ / n - st.MeanI * st.MeanQ) / (sdI * sdQ);
  }
  st.ImbalanceDb = 20.0 * std::log10(std::max(st.RmsI, 1e-12) / std::max(st.RmsQ, 1e-12));
  return st;
}

std::string IqVerdict(const TIqStats& st) {
  if (std::fabs(st.Correlation) > 0.2)
    return "# I and Q are correlated - the stream is not proper quadrature";
  if (std::fabs(st.ImbalanceDb) > 1.0) return "# channel levels differ - amplitude imbalance";
  return "# I/Q look healthy";
}

namespace {

void FailWith(const std::string& text, int exitCode) {
  plat::WriteConsoleLine("# error: " + text);
  SetExitCode(exitCode);
}

// Settings from the receiver options, and the receiver they name; a failure to open is exit code 2.
bool OpenOptionsReceiver(TTalvConfig& cfg, TSdrDeviceRef& dev, std::string& name) {
  ConfigDefaults(cfg);
  ApplyReceiverOptions(cfg);
  std::string error;
  if (OpenSdrDevice(cfg, dev, name, error)) return true;
  FailWith(error, 2);
  return false;
}

}  // namespace

void RunIqStat() {
  // A count below one is a mistake, not a request for one sample; a huge one is held to what fits.
  const int64_t samples = ParseIntDef(GetOption("samples", ""), 262144);
  if (samples < 1) {
    FailWith("--samples must be at least 1", 3);
    return;
  }
  TTalvConfig cfg;
  TSdrDeviceRef dev;
  std::string name;
  if (!OpenOptionsReceiver(cfg, dev, name)) return;

  const double rate = static_cast<double>(ParseFreq(GetOption("rate", ""), 2048000));
  // A refused rate or frequency would make the figures describe a stream nobody asked for.
  if (!dev->SetSampleRate(rate) || !dev->SetCenterFreq(ParseFreq(GetOption("freq", ""), 142000000)) ||
      !dev->SetGain(cfg.GainDb)) {
    FailWith(dev->GetLastError(), 3);
    return;
  }
  dev->ResetBuffer();
  const int32_t settle = std::clamp(ParseInt(GetOption("settle", ""), 100), 0, kMaxSettleMs);
  if (settle > 0)
    plat::SleepUnlessStopped(plat::SystemClock(), static_cast<uint32_t>(settle), &StopRequested);

  const int32_t n = static_cast<int32_t>(std::min<int64_t>(samples, MaxIqStatSamples));
  std::vector<uint8_t> buffer(static_cast<size_t>(n) * 2);
  int32_t got = 0;
  if (!dev->ReadSync(buffer.data(), n * 2, got)) {
    FailWith(dev->GetLastError(), 3);
    return;
  }
  const int32_t pairs = std::clamp(got, 0, n * 2) / 2;
  if (pairs == 0) {
    FailWith("no samples read", 3);
    return;
  }
  const TIqStats st = MeasureIq(buffer.data(), pairs, dev->SamplesSigned());
  PrintFmt("# %s at %.0f S/s, %d samples", name.c_str(), rate, pairs);
  PrintFmt("IQ\tmeanI %.5f\tmeanQ %.5f", st.MeanI, st.MeanQ);
  PrintFmt("IQ\trmsI  %.5f\trmsQ  %.5f\timbalance %.2f dB", st.RmsI, st.RmsQ, st.ImbalanceDb);
  PrintFmt("IQ\tcorrelation %.4f", st.Correlation);
  plat::WriteConsoleLine(IqVerdict(st));
}

// ---------------------------------------------------------------------------------------------
// --scan

bool HopProgress(int32_t hopIndex, int32_t hopCount, int64_t centerHz, double noiseDb, void* userData) {
  if (userData != nullptr)
    PrintFmt("# hop %d/%d  %s  noise %.1f dBFS", hopIndex + 1, hopCount, FormatMHz(centerHz).c_str(),
             noiseDb);
  return !StopRequested.load();
}

void PrintHits(const TChannelHitArray& hits, bool quiet) {
  for (const TChannelHit& h : hits)
    PrintFmt("HIT\t%lld\t%lld\t%.1f\t%.1f\t%.1f", static_cast<long long>(h.ChannelHz),
             static_cast<long long>(h.PeakHz), h.SnrDb, h.PowerDb, h.NoiseDb);
  if (!quiet) PrintFmt("# %d channel(s) above threshold", static_cast<int>(hits.size()));
}

void RunScan() {
  const bool quiet = HasOption("quiet");
  const int32_t sweeps = ParseInt(GetOption("sweeps", ""), 1);
  TTalvConfig cfg;
  TSdrDeviceRef dev;
  std::string name;
  if (!OpenOptionsReceiver(cfg, dev, name)) return;

  TScanSettings settings;
  ApplyScanOptions(settings);
  auto scanner = std::make_unique<TScanner>(dev);
  scanner->SetStopFlag(&StopRequested);  // Ctrl+C cuts a settle pause short
  if (!scanner->Configure(settings)) {
    FailWith(scanner->LastError(), 3);
    return;
  }
  if (!quiet) {
    PrintFmt("# device: %s", name.c_str());
    PrintFmt("# range : %s .. %s", FormatMHz(settings.StartHz).c_str(), FormatMHz(settings.StopHz).c_str());
    PrintFmt("# rate  : %.0f Hz, %d hops, bin %.1f Hz", scanner->Settings().SampleRate, scanner->HopCount(),
             scanner->BinWidth());
    PrintFmt("# snr   : %.1f dB, grid %lld Hz, simd %s", settings.ThresholdDb,
             static_cast<long long>(settings.GridHz), KernelDescription().c_str());
  }

  // HopProgress prints hop lines only when handed some non-null user data.
  int hopLines = 1;
  void* hopData = quiet ? nullptr : &hopLines;
  TChannelHitArray hits;
  for (int32_t done = 0;;) {
    if (StopRequested.load() || (sweeps > 0 && done >= sweeps)) break;
    const uint64_t t0 = plat::TickMs();
    hits.clear();
    if (!scanner->Sweep(hits, HopProgress, hopData)) {
      if (!StopRequested.load()) FailWith(scanner->LastError(), 4);
      break;
    }
    if (!quiet) PrintFmt("# sweep %d took %d ms", done + 1, static_cast<int>(plat::TickMs() - t0));
    PrintHits(hits, quiet);
    ++done;
  }
}

// ---------------------------------------------------------------------------------------------
// --live

void RunLive() {
  TTalvConfig cfg;
  ConfigDefaults(cfg);
  ApplyLiveOptions(cfg);
  const int64_t freq = ParseFreq(GetOption("freq", ""), 0);
  if (freq <= 0) {
    FailWith("--freq is required, e.g. --freq=92.3M", 2);
    return;
  }
  const int32_t seconds = ParseInt(GetOption("seconds", ""), 0);
  PrintFmt("# audio output devices: %d", AudioDeviceCount());
  const TModulation mode = ParseModulation(GetOption("mod", "NFM"), modNFM);

  auto session = std::make_unique<TLiveSession>(cfg, freq, mode);
  session->WavPath = GetOption("wav", "");
  if (!session->Prepare()) {
    FailWith(session->ErrorText(), 3);
    return;
  }
  PrintFmt("# playing %s (%s) via centre %s on %s", FormatMHz(session->LiveHz()).c_str(),
           ModulationName(session->Mode()).c_str(), FormatMHz(session->CentreHz()).c_str(),
           session->DeviceName().c_str());
  if (seconds > 0)
    PrintFmt("# stopping after %d s", seconds);
  else
    plat::WriteConsoleLine("# Ctrl+C to stop");

  if (!session->Start()) {
    FailWith("cannot start the live session thread", 3);
    return;
  }
  int64_t elapsedMs = 0;
  while (!StopRequested.load()) {
    plat::SleepMs(250);
    elapsedMs += 250;
    if (seconds > 0 && static_cast<int64_t>(seconds) * 1000 <= elapsedMs) break;
    if (session->Finished()) break;
  }
  session->Stop();
  session->WaitFor();

  const int64_t blocks = session->BlocksRead();
  PrintFmt("# %lld blocks played", static_cast<long long>(blocks));
  const std::string err = session->ErrorText();
  if (!err.empty()) {
    // A session that ended on a receiver failure did not do what was asked, whatever it played first.
    FailWith(err, 4);
  }
  if (blocks == 0) SetExitCode(4);
}
