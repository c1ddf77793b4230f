#pragma once
// The settings record of the whole system and the text rules around it.
//
// TTalvConfig holds the 32 settings (fixed names, order and defaults); ConfigSetKey applies one
// key=value pair to it, the same way for the engine (request bodies, options) and the plug-in (.ini).
// The number parsers accept a decimal point or comma and, for frequencies, a k/M/G multiplier. Every
// number in settings or protocol text is read and written with "." whatever the user's locale: the
// conversions here use std::from_chars / std::to_chars only, never printf, strtod or the C locale.
// The same unit plans the tuning hops of a range and resolves the recordings folder beside the module.
//
// Text is UTF-8 std::string throughout (fields that are UTF-16 on the Windows side are converted at
// the Win32 boundary, not here). No operation throws for bad text: parsers fall back to their default.
// Nothing here keeps state between calls, so any thread may use it.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// ---------------------------------------------------------------------------------------------
// Modulation

enum TModulation : uint8_t { modNFM = 0, modWFM = 1, modAM = 2, modLSB = 3, modUSB = 4 };

// Name, channel width and audio cut-off of a modulation; any value outside the table counts as NFM.
std::string ModulationName(TModulation m);
double ModulationWidthHz(TModulation m);
double ModulationCutoffHz(TModulation m);

// ---------------------------------------------------------------------------------------------
// The settings record (field order = key order)

struct TTalvConfig {
  std::string DeviceType = "rtlsdr";  // "rtlsdr" or "hackrf", lower case
  int32_t DeviceIndex = 0;
  std::string DeviceSerial;
  std::string DeviceName;
  int64_t StartHz = 144000000;
  int64_t StopHz = 146000000;
  int64_t SampleRate = 2048000;
  TModulation Modulation = modNFM;
  double SnrDb = 12.0;
  int64_t GridHz = 12500;
  double GainDb = -1.0;  // any negative value: automatic
  int32_t PpmCorrection = 0;
  bool RecordAudio = true;
  std::string RecordDir;  // empty: "recordings" beside the module (ResolveRecordDir)
  int32_t MaxParallel = 8;
  int32_t HangTimeMs = 2000;
  int32_t MinRecordMs = 1000;
  int32_t NFft = 4096;
  int32_t AvgSegments = 8;
  int32_t SettleMs = 30;
  int32_t RefreshSec = 5;
  int32_t AudioRate = 48000;
  int32_t MaxDwellMs = 10000;
  bool IfRecording = false;
  bool ThumbAllWav = false;
  bool MergeChannels = true;
  int64_t LastLiveHz = 0;
  int32_t HackRfLnaDb = 16;
  int32_t HackRfVgaDb = 20;
  bool HackRfAmp = false;
  bool HackRfBiasTee = false;
  bool StopEngineOnUnload = true;
};

// The 32 key names in record order ("SdrType", an input-only second name of DeviceType, is not listed).
constexpr int TalvConfigKeyCount = 32;
extern const char* const TalvConfigKeys[TalvConfigKeyCount];

// Fills all 32 fields with their defaults.
void ConfigDefaults(TTalvConfig& cfg);

// Applies one key=value pair. The key is compared exactly (case-sensitive); the value is trimmed.
// False only for an unknown key or a device type other than rtlsdr/hackrf (the field is kept then);
// a number that does not parse keeps the field and still gives true.
bool ConfigSetKey(TTalvConfig& cfg, std::string_view key, std::string_view value);

// The engine's bounds on the settings that reach a wait, a loop or a buffer: settings are user text,
// and a settle pause, hang time or dwell beyond these would hold a session (and every request that
// waits for it) for ever, or grow a buffer without end. BoundRunSettings holds SettleMs to
// 0..kMaxSettleMs, HangTimeMs to 0..kMaxHangTimeMs, MaxDwellMs to 0..kMaxDwellLimitMs (0 stays "no
// maximum", a negative value becomes it) and AudioRate to kMinAudioRate..kMaxAudioRate (below 1:
// the default). The plug-in keeps the values it was given; the engine bounds every record it is
// handed (requests, options) before it runs anything with it.
constexpr int32_t kMaxSettleMs = 2000;
constexpr int32_t kMaxHangTimeMs = 60000;
constexpr int32_t kMaxDwellLimitMs = 3600000;
constexpr int32_t kMinAudioRate = 8000;
constexpr int32_t kMaxAudioRate = 192000;
void BoundRunSettings(TTalvConfig& cfg);

// ---------------------------------------------------------------------------------------------
// Text helpers shared by the whole team (one helper per rule)

// Removes characters with codes below 33 (blanks and control characters) from both ends.
std::string_view TrimText(std::string_view s);
// ASCII-only case mapping; other bytes (UTF-8 sequences) are left alone.
std::string AsciiLower(std::string_view s);
std::string AsciiUpper(std::string_view s);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2). Values beyond the
// Int64 range are clamped to it; NaN gives 0.
int64_t RoundHalfEven(double v);

// Reads a whole text as a decimal number with "." as separator (an optional sign, digits, a fraction,
// an exponent). No trimming, no comma, no locale; infinities and NaN are refused. False: out untouched.
bool ParsePoint(std::string_view text, double& out);
// Reads a whole text as a base-10 Int64 with an optional sign. False: out untouched.
bool ParseInt64(std::string_view text, int64_t& out);

// "%.*f" with "." whatever the locale: FormatPoint(12.25, 1) = "12.2", FormatPoint(-3, 2) = "-3.00".
// decimals < 0 gives the shortest text that reads back to the same double ("0.1", "2048000", "1e+300").
std::string FormatPoint(double v, int decimals);

// ---------------------------------------------------------------------------------------------
// Settings value parsers and formatters

// Trimmed text as a decimal Int64; dflt when it is not one.
int64_t ParseIntDef(std::string_view text, int64_t dflt);
// Trimmed text with "," read as "."; dflt when it is not a number.
double ParseFloatDef(std::string_view text, double dflt);
// A frequency: optional "Hz" ending, optional k/M/G multiplier (either case), "," or "." decimals;
// rounded halves-to-even. dflt when empty, not a number, or outside the Int64 range.
int64_t ParseHz(std::string_view text, int64_t dflt);
// "NFM", "WFM", "AM", "LSB", "USB" in any case, blanks around allowed; dflt otherwise.
TModulation ParseModulation(std::string_view text, TModulation dflt);

// Short frequency text: 999 Hz, 12.5 kHz, 2.048 MHz, -12.5 kHz (one blank before the unit).
std::string FormatHz(int64_t hz);
// Decimal text of an Int64 (the settings file and requests write integers with it).
std::string Int64ToWide(int64_t v);

// ---------------------------------------------------------------------------------------------
// Hop plan

struct TScanHop {
  int64_t CenterHz = 0;  // the tuning frequency
  int64_t LoHz = 0;      // the part of the range this hop covers
  int64_t HiHz = 0;
  int64_t WidthHz = 0;  // HiHz - LoHz
};
using TScanHopArray = std::vector<TScanHop>;

// Most hops one plan may hold; a range that would need more gets an empty plan.
constexpr int64_t MaxScanHops = 65536;

// Usable width of one hop: (1 - 2 x edge) x rate; an edge outside [0, 0.45) counts as 0.075.
double UsableSpan(double sampleRate, double edgeFraction);
// Replaces hops by the plan for startHz..stopHz, in rising order. Empty when the range or the usable
// span is empty, or when more than MaxScanHops hops would be needed.
void BuildHops(TScanHopArray& hops, int64_t startHz, int64_t stopHz, double sampleRate, double edgeFraction);

// ---------------------------------------------------------------------------------------------
// Module folder and recordings folder

// Folder of the module (engine program or plug-in library) holding this code, ending in a separator.
std::string ExeDir();
// The recordings folder for the RecordDir setting, resolved against ExeDir(); no trailing separator
// (except for a bare root such as "C:\" or "/", which would otherwise change its meaning).
std::string ResolveRecordDir(std::string_view recordDir);
// The same against a given module folder; windowsRules selects drive letters, "\\server" paths and
// "\" separators (the Windows build), otherwise "/" rules. ResolveRecordDir calls it for this system.
std::string ResolveRecordDirIn(std::string_view recordDir, std::string_view exeDir, bool windowsRules);

// dir + name with exactly one separator of this system between them (none added after a separator).
std::string JoinPath(std::string_view dir, std::string_view name);
