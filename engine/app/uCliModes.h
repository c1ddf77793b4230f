#pragma once
// The engine program's command-line modes for a user at a console: --list (kernels, recordings
// folder, receiver libraries and connected receivers), --iqstat (one raw block judged for I/Q
// health), --scan (sweeps printing HIT lines) and --live (one frequency to the sound card).
//
// Each mode reads its options through uOptions, prints line by line through plat::WriteConsoleLine
// and sets the process exit code on failure: 2 receiver not opened (or --live without --freq), 3 a
// read, configuration or preparation failure, 4 a sweep that failed or a live session that played
// nothing or ended with an error. --scan and --live stop on StopRequested; --iqstat only cuts its
// settle pause short. Floating-point numbers in console lines use the user's decimal separator
// (FormatLocal: "," for a user whose locale writes one); frequency texts (FormatMHz) and integers keep
// their fixed form.
// The receiver is opened once per mode and released when the mode returns; nothing outlives a mode.
#include <cstdint>
#include <string>

#include "uAnalyzer.h"
#include "uLog.h"  // FormatLocal, TALV_PRINTF_FORMAT
#include "uTalvConfig.h"

// FormatLocal, then one console line.
void PrintFmt(const char* fmt, ...) TALV_PRINTF_FORMAT(1, 2);

// The modes.
void RunList();
void RunIqStat();
void RunScan();
void RunLive();

// DefaultScanSettings, then --start, --stop, --rate, --nfft, --avg, --snr, --grid, --gain, --ppm,
// --settle (each with the field's current value as default) and --nomerge. Nothing is checked here:
// TScanner::Configure judges the values.
void ApplyScanOptions(TScanSettings& settings);

// The receiver settings every receiver mode reads: --sdr (any name ParseSdrKind knows: rtl, rtl-sdr,
// nooelec, hack-rf ...; an unknown name keeps the default), --device, --serial, --gain, --lna,
// --vga, --amp, --bias. cfg should hold the defaults.
void ApplyReceiverOptions(TTalvConfig& cfg);
// ApplyReceiverOptions plus what --live reads: --rate, --ppm, --audiorate, --snr, --nfft, --avg,
// --grid, --hang and --record (absent: recording off).
void ApplyLiveOptions(TTalvConfig& cfg);

// The per-hop callback of --scan: with userData set prints "# hop i/n  <centre>  noise x dBFS";
// false (abort the sweep) once StopRequested is set.
bool HopProgress(int32_t hopIndex, int32_t hopCount, int64_t centerHz, double noiseDb, void* userData);

// One "HIT\t..." line per hit, then unless quiet "# %d channel(s) above threshold".
void PrintHits(const TChannelHitArray& hits, bool quiet);

// Health figures of a raw I/Q block (the --iqstat measurement).
struct TIqStats {
  int32_t Pairs = 0;
  double MeanI = 0, MeanQ = 0;
  double RmsI = 0, RmsQ = 0;
  double Correlation = 0;  // 0 when either component has no variation
  double ImbalanceDb = 0;  // 20 log10(rmsI / rmsQ), each at least 1e-12
};
// Measures `pairs` byte pairs (I at 2k, Q at 2k+1), offset binary or two's complement.
TIqStats MeasureIq(const uint8_t* bytes, int32_t pairs, bool samplesSigned);
// The verdict line for the figures.
std::string IqVerdict(const TIqStats& stats);

// Most pairs --iqstat reads at once (a larger --samples is held to it; below 1 is an error, exit 3).
constexpr int32_t MaxIqStatSamples = 16777216;
