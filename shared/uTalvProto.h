#pragma once
// The pipe protocol between the engine and the plug-in, for both sides: framing, dot-stuffing, line
// splitting, the command words and request keys, and the text of every reply line that does not need
// the engine's live state. The engine's handlers and the plug-in's client both build and read their
// texts here, so the two cannot drift apart.
//
// Framing: a request is the command line, body lines Key=Value (each dot-stuffed) and a line ".";
// a reply is the status line ("OK" or "ERR <text>", never stuffed), data lines (each dot-stuffed)
// and a line ".". Lines are sent with CR LF; readers also take LF alone and drop one trailing CR.
// One connection carries one request and one reply.
//
// Assumes: numbers are written and read with "." whatever the locale (FormatPoint / ParsePoint of
// the settings unit); integers are plain decimal. Every text from outside the engine's own vocabulary
// that goes into a reply line (receiver errors, exception messages, device names and serials, paths)
// passes through SafeReplyText, so it can never split a line or end a reply early.
// Never: includes engine headers (the plug-in links this unit), keeps state, or throws for bad text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "uTalvConfig.h"

namespace plat {
class TPipeConn;
}

using TTextLines = std::vector<std::string>;

// ---------------------------------------------------------------------------------------------
// Words, keys and fixed texts

namespace proto {
constexpr const char* kPing = "PING";
constexpr const char* kStart = "START";
constexpr const char* kStop = "STOP";
constexpr const char* kStatus = "STATUS";
constexpr const char* kChannels = "CHANNELS";
constexpr const char* kDevices = "DEVICES";
constexpr const char* kSpectrum = "SPECTRUM";
constexpr const char* kEnvelope = "ENVELOPE";
constexpr const char* kLive = "LIVE";
constexpr const char* kLiveStop = "LIVESTOP";
constexpr const char* kClear = "CLEAR";
constexpr const char* kQuit = "QUIT";

constexpr const char* kClientPid = "ClientPid";
constexpr const char* kSpecCenter = "SpecCenter";
constexpr const char* kSpecBins = "SpecBins";
constexpr const char* kSpecLo = "SpecLo";
constexpr const char* kSpecHi = "SpecHi";
constexpr const char* kEnvAfter = "EnvAfter";
constexpr const char* kEnvMax = "EnvMax";
constexpr const char* kLiveHz = "LiveHz";
constexpr const char* kLiveMod = "LiveMod";
constexpr const char* kLiveMulti = "LiveMulti";

constexpr const char* kOk = "OK";
constexpr const char* kErrNoFrequency = "no frequency given";
constexpr const char* kErrNoSpectrum = "no spectrum yet";

// A request holds at most this many bytes up to and including its terminator line; the engine drops
// a longer one without a reply. Replies are read up to kMaxReplyBytes (the largest real reply, a
// panorama of the most hops, is far below it).
constexpr size_t kMaxRequestBytes = size_t{1} << 20;
constexpr size_t kMaxReplyBytes = size_t{64} << 20;
// Pipe reads are done in chunks of this size.
constexpr size_t kReadChunk = 4096;
// Request frequencies are clamped to 0 .. 10^12 Hz, so sums and spans of them cannot overflow.
constexpr int64_t kMaxRequestHz = 1000000000000;
// Levels per second of ENVELOPE: the audio rate divided by this (one level per audio block).
constexpr int32_t kAudioBlock = 768;
// Items per "Bin=" and per "Env=" line.
constexpr size_t kBinsPerLine = 128;
constexpr size_t kEnvPairsPerLine = 64;
}  // namespace proto

// ---------------------------------------------------------------------------------------------
// Framing

// A line beginning with "." gets a second "." in front; any other line is returned unchanged.
std::string DotStuff(std::string_view line);
// A line longer than one character that begins with ".." loses its first "."; others unchanged.
std::string DotUnstuff(std::string_view line);

// The whole request text: command CR LF, every body line stuffed + CR LF, "." CR LF.
std::string FrameRequest(std::string_view command, const TTextLines& body);
// The whole reply text: the first line as it is, later lines stuffed, each + CR LF, then "." CR LF.
// An empty list gives the status line "OK".
std::string FrameReply(const TTextLines& reply);

// The command word of a command line: trimmed of blanks and control characters, ASCII upper case.
std::string CommandWord(std::string_view commandLine);

// Every control character (codes below 32 and 127) replaced by a blank.
std::string SafeReplyText(std::string_view text);

// Cuts a byte stream into lines at LF, dropping one CR before it.
class TLineSplitter {
 public:
  void Feed(const char* data, size_t size) { FBuffer.append(data, size); }
  // The next complete line; false when no LF is buffered.
  bool Next(std::string& line);
  // Bytes fed and not yet handed out as lines.
  size_t Pending() const { return FBuffer.size() - FPos; }

 private:
  std::string FBuffer;
  size_t FPos = 0;
};

enum class TReadState { NeedMore, Complete, Invalid, TooLarge };

// What the request and reply readers share: the stream is cut into lines, each handed to OnLine,
// until OnLine or the byte cap decides. Once the state is Complete, Invalid or TooLarge it stays
// there and further bytes are ignored (bytes after the terminator are not read). TooLarge: more than
// maxBytes arrived before the terminator; End: the stream ended (a read of 0 bytes or a failed one),
// which makes a message still waiting for its terminator Invalid.
class TFramedReader {
 public:
  virtual ~TFramedReader() = default;
  TReadState Feed(const char* data, size_t size);
  TReadState End();
  TReadState State() const { return FState; }

 protected:
  explicit TFramedReader(size_t maxBytes) : FMax(maxBytes) {}
  // One line, its line end removed; NeedMore to go on.
  virtual TReadState OnLine(const std::string& line) = 0;

 private:
  size_t FMax;
  size_t FConsumed = 0;  // bytes of the lines handed out so far
  TReadState FState = TReadState::NeedMore;
  TLineSplitter FSplit;
};

struct TRequest {
  std::string CommandLine;  // as received (minus its line end), never un-stuffed
  TTextLines Body;          // un-stuffed body lines
};

// The engine's reading of one request: the first line is the command line, later lines are
// un-stuffed into the body, "." (compared before un-stuffing) ends it. Invalid when the terminator
// comes first.
class TRequestReader : public TFramedReader {
 public:
  explicit TRequestReader(size_t maxBytes = proto::kMaxRequestBytes) : TFramedReader(maxBytes) {}
  const TRequest& Request() const { return FRequest; }

 protected:
  TReadState OnLine(const std::string& line) override;

 private:
  bool FHaveCommand = false;
  TRequest FRequest;
};

// The client's reading of one reply: the first line unchanged, later lines un-stuffed, "." ends it;
// Complete only with at least one line before the ".".
class TReplyReader : public TFramedReader {
 public:
  explicit TReplyReader(size_t maxBytes = proto::kMaxReplyBytes) : TFramedReader(maxBytes) {}
  const TTextLines& Lines() const { return FLines; }

 protected:
  TReadState OnLine(const std::string& line) override;

 private:
  TTextLines FLines;
};

// Over a pipe connection (chunks of kReadChunk bytes).
// Engine: reads one request; anything but Complete means "drop the connection without a reply".
TReadState ReadRequest(plat::TPipeConn& conn, TRequest& request);
// Engine: writes the framed reply in one write and flushes; a failed write is ignored.
void WriteReply(plat::TPipeConn& conn, const TTextLines& reply);
// Client: writes the framed request in one write; false when the write failed.
bool SendRequest(plat::TPipeConn& conn, std::string_view command, const TTextLines& body);
// Client: reads the reply lines until "."; false when the reply ended before it (or was only ".").
bool ReadReply(plat::TPipeConn& conn, TTextLines& lines);

// Client: the status line means success when its first two characters are "OK". The error text of a
// failed reply: the status line from its fourth character on, trimmed, or the whole line when that
// is empty.
bool ReplyIsOk(const TTextLines& lines);
std::string ReplyErrorText(const TTextLines& lines);

// ---------------------------------------------------------------------------------------------
// Request bodies

// The value of the first body line whose text before its first "=" is exactly name (not trimmed);
// everything after that "=", untrimmed. Lines without "=" or starting with "=" are skipped. "" when
// there is none.
std::string BodyValue(const TTextLines& body, std::string_view name);
// ConfigSetKey for every body line with "=" at its second character or later: the key trimmed, the
// value as it is; results ignored (unknown keys such as ClientPid change nothing).
void ApplyBody(const TTextLines& body, TTalvConfig& cfg);
// The defaults, then the body, held to the engine's bounds (BoundRunSettings): what every handler
// that takes settings starts from.
TTalvConfig ConfigFromBody(const TTextLines& body);

// A request frequency clamped to 0 .. kMaxRequestHz.
int64_t ClampRequestHz(int64_t hz);
// A frequency key of the body (ParseHz, default 0), clamped.
int64_t BodyHz(const TTextLines& body, std::string_view name);
// The process to watch: ClientPid as a 64-bit integer (0 when absent or bad), its low 32 bits.
uint32_t BodyClientPid(const TTextLines& body);

struct TSpectrumRequest {
  int64_t CenterHz = 0;  // SpecCenter
  int32_t Bins = 512;    // SpecBins, 16 .. 8192
  int64_t LoHz = 0;      // SpecLo
  int64_t HiHz = 0;      // SpecHi
};
TSpectrumRequest ParseSpectrumRequest(const TTextLines& body);

struct TEnvelopeRequest {
  int64_t After = 0;  // EnvAfter
  int32_t Max = 512;  // EnvMax, 16 .. 4096
};
TEnvelopeRequest ParseEnvelopeRequest(const TTextLines& body);
// ENVELOPE's "Rate=": levels per second at an audio rate (48000 gives 62).
int32_t EnvelopeRate(int32_t audioRate);

struct TLiveRequest {
  int64_t Hz = 0;            // LiveHz (0: none usable)
  TModulation Mod = modNFM;  // LiveMod, else the settings' Modulation
  bool Multi = false;        // LiveMulti is exactly "1"
};
TLiveRequest ParseLiveRequest(const TTextLines& body, const TTalvConfig& cfg);

// ---------------------------------------------------------------------------------------------
// Reply lines

// "ERR " + the text made safe.
std::string ErrorLine(std::string_view text);
// "ERR unknown command: " + the word (made safe).
std::string UnknownCommandLine(std::string_view word);

// One detected channel as the engine's store holds it and the CHANNELS line carries it.
struct TChannelRec {
  int64_t Hz = 0;        // grid-rounded channel frequency, the store's key
  double FirstSeen = 0;  // local date-time (days since 1899-12-30) of the first sighting
  double LastSeen = 0;   // ... of the latest sighting
  int32_t Hits = 0;      // merges that saw it
  double PeakSnrDb = 0;  // highest SNR seen
  double LastSnrDb = 0;  // SNR of the latest sighting
  int32_t Reserved = 0;  // always 0; carried on the line
  uint8_t Active = 0;    // 0/1, meaningful only in a snapshot
};
using TChannelRecArray = std::vector<TChannelRec>;

// "%d\t%.6f\t%.6f\t%d\t%.2f\t%.2f\t%d\t%d" of the eight fields, "." decimals.
std::string FormatChannelRec(const TChannelRec& rec);
// The field starting at pos (0-based here) up to the next tab or the end; pos moves past that tab,
// or to just past the end when there is none.
std::string NextTabField(std::string_view line, size_t& pos);
// A CHANNELS line back into a record: the first six fields must parse (times and SNRs with "."
// only, hits an integer); the reserved field and the active flag default to 0. False: rec cleared.
bool ParseChannelLine(std::string_view line, TChannelRec& rec);

// One DEVICES line: index, kind name, name and serial, tab-separated (name and serial made safe, so a
// tab in them cannot add a field).
std::string DeviceLine(int32_t index, std::string_view kindName, std::string_view name,
                       std::string_view serial);

// Input level class names of STATUS: 1 good, 2 quiet, 3 loud, 4 clipping, others "".
std::string LevelClassName(int levelClass);

// Everything STATUS reports, gathered by the handler; StatusLines turns it into the data lines.
struct TStatusInfo {
  bool ScanRunning = false;  // a scan session exists and has not finished
  uint32_t EnginePid = 0;
  std::string Simd;
  int32_t Channels = 0;
  bool Monitor = false;
  // The one-channel live session.
  bool LiveRunning = false;
  int64_t LiveHz = 0;
  TModulation LiveMod = modNFM;
  int64_t LiveCenterHz = 0;
  std::string LiveDevice;
  bool LiveExists = false;  // an object exists (finished or not)
  std::string LiveError;
  // Live through the running scan (the service-wide values).
  int64_t ThroughHz = 0;
  TModulation ThroughMod = modNFM;
  bool ThroughMulti = false;
  // The scan session object, running or finished but not yet reaped.
  bool ScanExists = false;
  std::string ScanDevice;
  int32_t Sweeps = 0;
  int32_t HopIndex = 0;
  int32_t HopCount = 0;
  double NoiseDb = 0;
  double StartedAt = 0;
  int LevelClass = 0;
  std::string ScanError;
  // The service's last error, shown when no scan session object exists.
  std::string ServiceError;
};
// The STATUS data lines (without "OK"), in their order.
TTextLines StatusLines(const TStatusInfo& info);

// SPECTRUM: the head lines "Center=" .. "HiHz=".
void AppendSpectrumHead(TTextLines& lines, int64_t centerHz, double rate, double noiseDb, int64_t seq,
                        std::string_view source, size_t count, int64_t loHz, int64_t hiHz);
// "Pano=<lo> <hi> <age>" and "Mark=<hz> <snr %.1f>".
std::string PanoLine(int64_t loHz, int64_t hiHz, int32_t ageMs);
std::string MarkLine(int64_t hz, double snrDb);
// "%.<decimals>f" of a float appended to out, the same text as FormatPoint without its temporary
// string: the bins and envelope pairs of a reply are thousands of these.
void AppendFixed(std::string& out, float value, int decimals);
// "Bin=" lines, 128 levels ("%.1f") per line; none for no bins.
void AppendBinLines(TTextLines& lines, const float* bins, size_t count);

// ENVELOPE: "Seq=", "Live=", "Rate=".
void AppendEnvelopeHead(TTextLines& lines, int64_t seq, bool live, int32_t rate);
// "Lane=<key> <count>".
std::string LaneLine(int64_t key, int64_t count);
// "Env=" lines of up to 64 pairs "%.4f,%.4f" (peak, rms); none for no samples. Any sample type with
// Peak and Rms fields will do (the engine's level samples, the plug-in's parsed levels).
void AppendEnvPairs(TTextLines& lines, const float* peaks, const float* rms, size_t count, size_t stride);
template <class TSample>
void AppendEnvLines(TTextLines& lines, const std::vector<TSample>& samples) {
  if (samples.empty()) return;
  AppendEnvPairs(lines, &samples[0].Peak, &samples[0].Rms, samples.size(), sizeof(TSample));
}

// ---------------------------------------------------------------------------------------------
// Live ticket: the short text the plug-in hands to the host for the live view and reads back in its
// lister. Six lines, each ended by CR LF: the magic "TALVORAN-LIVE/1", then Mode=, CenterHz=,
// SpanHz=, Modulation= and Title=. Values go in unchanged (no escaping).

constexpr const char* kTicketMagic = "TALVORAN-LIVE/1";

struct TViewTicket {
  bool Valid = false;  // the magic was found on the first line
  std::string Mode;    // "spectrum", "audio" or "multi" (others are kept as they are)
  int64_t CenterHz = 0;
  int64_t SpanHz = 0;
  std::string Modulation;
  std::string Title;
};

std::string WriteTicket(std::string_view mode, int64_t centerHz, int64_t spanHz, std::string_view modulation,
                        std::string_view title);
// Lines split at CR LF, LF or CR; valid when the first line holds the magic anywhere. Later lines
// whose first "=" follows their first character give key and value, both trimmed; keys compared
// exactly; numbers that do not parse give 0; a later line wins.
TViewTicket ReadTicket(std::string_view text);
