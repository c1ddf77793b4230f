#include "uTalvProto.h"

#include <charconv>
#include <cmath>

#include "pPipe.h"

namespace {

constexpr const char* kCrLf = "\r\n";

// Appends items to lines as "<prefix><item> <item> ..." with at most perLine items per line.
class TPackedLines {
 public:
  TPackedLines(TTextLines& lines, const char* prefix, size_t perLine)
      : FLines(lines), FPrefix(prefix), FPerLine(perLine) {}
  ~TPackedLines() { Flush(); }
  // Starts the next item and returns the line to append its text to.
  std::string& Item() {
    if (FCount == FPerLine) Flush();
    if (FCount == 0)
      FLine = FPrefix;
    else
      FLine.push_back(' ');
    ++FCount;
    return FLine;
  }

 private:
  void Flush() {
    if (FCount > 0) FLines.push_back(std::move(FLine));
    FLine.clear();
    FCount = 0;
  }
  TTextLines& FLines;
  const char* FPrefix;
  size_t FPerLine;
  size_t FCount = 0;
  std::string FLine;
};

std::string KeyLine(const char* key, const std::string& value) {
  return std::string(key) + value;
}
std::string KeyLine(const char* key, int64_t value) {
  return std::string(key) + std::to_string(value);
}

int64_t ClampInt(int64_t v, int64_t lo, int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Framing

std::string DotStuff(std::string_view line) {
  if (!line.empty() && line[0] == '.') return "." + std::string(line);
  return std::string(line);
}

std::string DotUnstuff(std::string_view line) {
  if (line.size() > 1 && line[0] == '.' && line[1] == '.') return std::string(line.substr(1));
  return std::string(line);
}

std::string FrameRequest(std::string_view command, const TTextLines& body) {
  std::string text(command);
  text += kCrLf;
  for (const std::string& line : body) {
    text += DotStuff(line);
    text += kCrLf;
  }
  text += ".\r\n";
  return text;
}

std::string FrameReply(const TTextLines& reply) {
  std::string text = reply.empty() ? std::string(proto::kOk) : reply[0];
  text += kCrLf;
  for (size_t i = 1; i < reply.size(); ++i) {
    text += DotStuff(reply[i]);
    text += kCrLf;
  }
  text += ".\r\n";
  return text;
}

std::string CommandWord(std::string_view commandLine) {
  return AsciiUpper(TrimText(commandLine));
}

std::string SafeReplyText(std::string_view text) {
  std::string safe(text);
  for (char& c : safe) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || u == 127) c = ' ';
  }
  return safe;
}

bool TLineSplitter::Next(std::string& line) {
  size_t lf = FBuffer.find('\n', FPos);
  if (lf == std::string::npos) {
    // Keep the buffer from growing with lines already handed out.
    if (FPos > 0) {
      FBuffer.erase(0, FPos);
      FPos = 0;
    }
    return false;
  }
  size_t end = lf;
  if (end > FPos && FBuffer[end - 1] == '\r') --end;
  line.assign(FBuffer, FPos, end - FPos);
  FPos = lf + 1;
  return true;
}

TReadState TFramedReader::Feed(const char* data, size_t size) {
  if (FState != TReadState::NeedMore) return FState;
  FSplit.Feed(data, size);
  std::string line;
  for (;;) {
    size_t before = FSplit.Pending();
    if (!FSplit.Next(line)) break;
    FConsumed += before - FSplit.Pending();
    if (FConsumed > FMax) return FState = TReadState::TooLarge;
    FState = OnLine(line);
    if (FState != TReadState::NeedMore) return FState;
  }
  // A line that has no end yet counts too, so one endless line fails as soon as it passes the cap.
  if (FConsumed + FSplit.Pending() > FMax) FState = TReadState::TooLarge;
  return FState;
}

TReadState TFramedReader::End() {
  if (FState == TReadState::NeedMore) FState = TReadState::Invalid;
  return FState;
}

TReadState TRequestReader::OnLine(const std::string& line) {
  if (line == ".") return FHaveCommand ? TReadState::Complete : TReadState::Invalid;
  if (!FHaveCommand) {
    FRequest.CommandLine = line;
    FHaveCommand = true;
  } else {
    FRequest.Body.push_back(DotUnstuff(line));
  }
  return TReadState::NeedMore;
}

TReadState TReplyReader::OnLine(const std::string& line) {
  if (line == ".") return FLines.empty() ? TReadState::Invalid : TReadState::Complete;
  FLines.push_back(FLines.empty() ? line : DotUnstuff(line));
  return TReadState::NeedMore;
}

namespace {
// Reads chunks into the reader until it has decided.
TReadState ReadFramed(plat::TPipeConn& conn, TFramedReader& reader) {
  char chunk[proto::kReadChunk];
  TReadState state = TReadState::NeedMore;
  while (state == TReadState::NeedMore) {
    size_t n = conn.Read(chunk, sizeof chunk);
    state = n == 0 ? reader.End() : reader.Feed(chunk, n);
  }
  return state;
}
}  // namespace

TReadState ReadRequest(plat::TPipeConn& conn, TRequest& request) {
  TRequestReader reader;
  TReadState state = ReadFramed(conn, reader);
  request = reader.Request();
  return state;
}

void WriteReply(plat::TPipeConn& conn, const TTextLines& reply) {
  std::string text = FrameReply(reply);
  conn.Write(text.data(), text.size());
  conn.Flush();
}

bool SendRequest(plat::TPipeConn& conn, std::string_view command, const TTextLines& body) {
  std::string text = FrameRequest(command, body);
  return conn.Write(text.data(), text.size());
}

bool ReadReply(plat::TPipeConn& conn, TTextLines& lines) {
  TReplyReader reader;
  TReadState state = ReadFramed(conn, reader);
  lines = reader.Lines();
  return state == TReadState::Complete;
}

bool ReplyIsOk(const TTextLines& lines) {
  return !lines.empty() && lines[0].compare(0, 2, "OK") == 0;
}

std::string ReplyErrorText(const TTextLines& lines) {
  if (lines.empty()) return std::string();
  const std::string& status = lines[0];
  std::string text = status.size() > 3 ? std::string(TrimText(std::string_view(status).substr(3))) : "";
  return text.empty() ? status : text;
}

// ---------------------------------------------------------------------------------------------
// Request bodies

std::string BodyValue(const TTextLines& body, std::string_view name) {
  for (const std::string& line : body) {
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    if (std::string_view(line).substr(0, eq) == name) return line.substr(eq + 1);
  }
  return std::string();
}

void ApplyBody(const TTextLines& body, TTalvConfig& cfg) {
  for (const std::string& line : body) {
    size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string_view view(line);
    ConfigSetKey(cfg, TrimText(view.substr(0, eq)), view.substr(eq + 1));
  }
}

TTalvConfig ConfigFromBody(const TTextLines& body) {
  TTalvConfig cfg;
  ConfigDefaults(cfg);
  ApplyBody(body, cfg);
  BoundRunSettings(cfg);
  return cfg;
}

int64_t ClampRequestHz(int64_t hz) {
  return ClampInt(hz, 0, proto::kMaxRequestHz);
}

int64_t BodyHz(const TTextLines& body, std::string_view name) {
  return ClampRequestHz(ParseHz(BodyValue(body, name), 0));
}

uint32_t BodyClientPid(const TTextLines& body) {
  return static_cast<uint32_t>(static_cast<uint64_t>(ParseIntDef(BodyValue(body, proto::kClientPid), 0)));
}

TSpectrumRequest ParseSpectrumRequest(const TTextLines& body) {
  TSpectrumRequest r;
  r.CenterHz = BodyHz(body, proto::kSpecCenter);
  r.Bins = static_cast<int32_t>(ClampInt(ParseIntDef(BodyValue(body, proto::kSpecBins), 512), 16, 8192));
  r.LoHz = BodyHz(body, proto::kSpecLo);
  r.HiHz = BodyHz(body, proto::kSpecHi);
  return r;
}

TEnvelopeRequest ParseEnvelopeRequest(const TTextLines& body) {
  TEnvelopeRequest r;
  r.After = ParseIntDef(BodyValue(body, proto::kEnvAfter), 0);
  r.Max = static_cast<int32_t>(ClampInt(ParseIntDef(BodyValue(body, proto::kEnvMax), 512), 16, 4096));
  return r;
}

int32_t EnvelopeRate(int32_t audioRate) {
  return audioRate / proto::kAudioBlock;
}

TLiveRequest ParseLiveRequest(const TTextLines& body, const TTalvConfig& cfg) {
  TLiveRequest r;
  r.Hz = BodyHz(body, proto::kLiveHz);
  r.Mod = ParseModulation(BodyValue(body, proto::kLiveMod), cfg.Modulation);
  r.Multi = BodyValue(body, proto::kLiveMulti) == "1";
  return r;
}

// ---------------------------------------------------------------------------------------------
// Reply lines

std::string ErrorLine(std::string_view text) {
  return "ERR " + SafeReplyText(text);
}

std::string UnknownCommandLine(std::string_view word) {
  return "ERR unknown command: " + SafeReplyText(word);
}

std::string FormatChannelRec(const TChannelRec& rec) {
  std::string line = std::to_string(rec.Hz);
  line += '\t';
  line += FormatPoint(rec.FirstSeen, 6);
  line += '\t';
  line += FormatPoint(rec.LastSeen, 6);
  line += '\t';
  line += std::to_string(rec.Hits);
  line += '\t';
  line += FormatPoint(rec.PeakSnrDb, 2);
  line += '\t';
  line += FormatPoint(rec.LastSnrDb, 2);
  line += '\t';
  line += std::to_string(rec.Reserved);
  line += '\t';
  line += rec.Active ? '1' : '0';
  return line;
}

std::string NextTabField(std::string_view line, size_t& pos) {
  if (pos >= line.size()) {
    pos = line.size() + 1;
    return std::string();
  }
  size_t tab = line.find('\t', pos);
  if (tab == std::string_view::npos) {
    std::string field(line.substr(pos));
    pos = line.size() + 1;
    return field;
  }
  std::string field(line.substr(pos, tab - pos));
  pos = tab + 1;
  return field;
}

bool ParseChannelLine(std::string_view line, TChannelRec& rec) {
  rec = TChannelRec();
  TChannelRec r;
  size_t pos = 0;
  int64_t hits = 0, reserved = 0, active = 0;
  bool ok = ParseInt64(NextTabField(line, pos), r.Hz);
  ok = ParsePoint(NextTabField(line, pos), r.FirstSeen) && ok;
  ok = ParsePoint(NextTabField(line, pos), r.LastSeen) && ok;
  ok = ParseInt64(NextTabField(line, pos), hits) && hits >= INT32_MIN && hits <= INT32_MAX && ok;
  ok = ParsePoint(NextTabField(line, pos), r.PeakSnrDb) && ok;
  ok = ParsePoint(NextTabField(line, pos), r.LastSnrDb) && ok;
  if (!ok) return false;
  if (!ParseInt64(NextTabField(line, pos), reserved) || reserved < INT32_MIN || reserved > INT32_MAX)
    reserved = 0;
  if (!ParseInt64(NextTabField(line, pos), active)) active = 0;
  r.Hits = static_cast<int32_t>(hits);
  r.Reserved = static_cast<int32_t>(reserved);
  r.Active = active != 0 ? 1 : 0;
  rec = r;
  return true;
}

std::string DeviceLine(int32_t index, std::string_view kindName, std::string_view name,
                       std::string_view serial) {
  return std::to_string(index) + "\t" + SafeReplyText(kindName) + "\t" + SafeReplyText(name) + "\t" +
         SafeReplyText(serial);
}

std::string LevelClassName(int levelClass) {
  switch (levelClass) {
    case 1:
      return "good";
    case 2:
      return "quiet";
    case 3:
      return "loud";
    case 4:
      return "clipping";
    default:
      return std::string();
  }
}

TTextLines StatusLines(const TStatusInfo& s) {
  TTextLines lines;
  lines.push_back(KeyLine("Running=", s.ScanRunning ? 1 : 0));
  lines.push_back(KeyLine("EnginePid=", static_cast<int64_t>(s.EnginePid)));
  lines.push_back(KeyLine("Simd=", SafeReplyText(s.Simd)));
  lines.push_back(KeyLine("Channels=", s.Channels));
  lines.push_back(KeyLine("Monitor=", s.Monitor ? 1 : 0));

  bool scanPlaysNothing = s.ThroughHz < 1 && !s.ThroughMulti;
  if (s.LiveRunning || !s.ScanRunning || scanPlaysNothing) {
    lines.push_back(KeyLine("Live=", s.LiveRunning ? 1 : 0));
    if (s.LiveRunning) {
      lines.push_back(KeyLine("LiveHz=", s.LiveHz));
      lines.push_back(KeyLine("LiveMod=", ModulationName(s.LiveMod)));
      lines.push_back(KeyLine("LiveCenter=", s.LiveCenterHz));
      lines.push_back(KeyLine("Device=", SafeReplyText(s.LiveDevice)));
    } else if (s.LiveExists && !s.LiveError.empty()) {
      lines.push_back(KeyLine("LastError=", SafeReplyText(s.LiveError)));
    }
  } else {
    lines.push_back("Live=1");
    lines.push_back(KeyLine("LiveHz=", s.ThroughMulti ? 0 : s.ThroughHz));
    lines.push_back(KeyLine("LiveMod=", ModulationName(s.ThroughMod)));
    lines.push_back("LiveCenter=0");
  }

  if (s.ScanExists) {
    lines.push_back(KeyLine("Device=", SafeReplyText(s.ScanDevice)));
    lines.push_back(KeyLine("Sweeps=", s.Sweeps));
    lines.push_back(KeyLine("HopIndex=", s.HopIndex));
    lines.push_back(KeyLine("HopCount=", s.HopCount));
    lines.push_back(KeyLine("NoiseDb=", FormatPoint(s.NoiseDb, 1)));
    lines.push_back(KeyLine("StartedAt=", FormatPoint(s.StartedAt, 6)));
    std::string level = LevelClassName(s.LevelClass);
    if (!level.empty()) lines.push_back(KeyLine("Level=", level));
    if (!s.ScanError.empty()) lines.push_back(KeyLine("LastError=", SafeReplyText(s.ScanError)));
  } else if (!s.ServiceError.empty()) {
    lines.push_back(KeyLine("LastError=", SafeReplyText(s.ServiceError)));
  }
  return lines;
}

void AppendFixed(std::string& out, float value, int decimals) {
  static constexpr int64_t kPow10[] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};
  const double v = value;
  // A float has 24 significant bits and 10^8 needs 27, so the product is exact in a double.
  const double scaled =
      decimals >= 0 && decimals <= 8 ? std::fabs(v) * static_cast<double>(kPow10[decimals]) : -1;
  if (!(scaled >= 0 && scaled < 9.0e15)) {  // NaN, infinities, huge values and other precisions
    out += FormatPoint(v, decimals);
    return;
  }
  const double whole = std::floor(scaled);
  const double rest = scaled - whole;  // exact
  int64_t n = static_cast<int64_t>(whole);
  // Halves do occur (0.25 at one decimal); they go to the even neighbour, as the general formatter does.
  if (rest > 0.5 || (rest == 0.5 && (n & 1) != 0)) ++n;
  if (std::signbit(v)) out.push_back('-');  // "-0.0" for small negatives, as the general formatter
  const int64_t pow = kPow10[decimals];
  char digits[24];
  const std::to_chars_result head = std::to_chars(digits, digits + sizeof digits, n / pow);
  out.append(digits, head.ptr);
  if (decimals == 0) return;
  out.push_back('.');
  int64_t frac = n % pow;
  const size_t at = out.size();
  out.append(static_cast<size_t>(decimals), '0');
  for (size_t i = at + static_cast<size_t>(decimals); frac > 0; frac /= 10)
    out[--i] = static_cast<char>('0' + frac % 10);
}

void AppendSpectrumHead(TTextLines& lines, int64_t centerHz, double rate, double noiseDb, int64_t seq,
                        std::string_view source, size_t count, int64_t loHz, int64_t hiHz) {
  lines.push_back(KeyLine("Center=", centerHz));
  lines.push_back(KeyLine("Rate=", FormatPoint(rate, 0)));
  lines.push_back(KeyLine("Noise=", FormatPoint(noiseDb, 1)));
  lines.push_back(KeyLine("Seq=", seq));
  lines.push_back(KeyLine("Source=", SafeReplyText(source)));
  lines.push_back(KeyLine("Count=", static_cast<int64_t>(count)));
  lines.push_back(KeyLine("LoHz=", loHz));
  lines.push_back(KeyLine("HiHz=", hiHz));
}

std::string PanoLine(int64_t loHz, int64_t hiHz, int32_t ageMs) {
  return "Pano=" + std::to_string(loHz) + " " + std::to_string(hiHz) + " " + std::to_string(ageMs);
}

std::string MarkLine(int64_t hz, double snrDb) {
  return "Mark=" + std::to_string(hz) + " " + FormatPoint(snrDb, 1);
}

void AppendBinLines(TTextLines& lines, const float* bins, size_t count) {
  TPackedLines packed(lines, "Bin=", proto::kBinsPerLine);
  for (size_t i = 0; i < count; ++i) AppendFixed(packed.Item(), bins[i], 1);
}

void AppendEnvelopeHead(TTextLines& lines, int64_t seq, bool live, int32_t rate) {
  lines.push_back(KeyLine("Seq=", seq));
  lines.push_back(KeyLine("Live=", live ? 1 : 0));
  lines.push_back(KeyLine("Rate=", rate));
}

std::string LaneLine(int64_t key, int64_t count) {
  return "Lane=" + std::to_string(key) + " " + std::to_string(count);
}

void AppendEnvPairs(TTextLines& lines, const float* peaks, const float* rms, size_t count, size_t stride) {
  TPackedLines packed(lines, "Env=", proto::kEnvPairsPerLine);
  const char* p = reinterpret_cast<const char*>(peaks);
  const char* r = reinterpret_cast<const char*>(rms);
  for (size_t i = 0; i < count; ++i, p += stride, r += stride) {
    std::string& line = packed.Item();
    AppendFixed(line, *reinterpret_cast<const float*>(p), 4);
    line.push_back(',');
    AppendFixed(line, *reinterpret_cast<const float*>(r), 4);
  }
}

// ---------------------------------------------------------------------------------------------
// Live ticket

std::string WriteTicket(std::string_view mode, int64_t centerHz, int64_t spanHz, std::string_view modulation,
                        std::string_view title) {
  std::string text = kTicketMagic;
  text += kCrLf;
  text += "Mode=" + std::string(mode) + kCrLf;
  text += "CenterHz=" + std::to_string(centerHz) + kCrLf;
  text += "SpanHz=" + std::to_string(spanHz) + kCrLf;
  text += "Modulation=" + std::string(modulation) + kCrLf;
  text += "Title=" + std::string(title) + kCrLf;
  return text;
}

TViewTicket ReadTicket(std::string_view text) {
  TViewTicket t;
  TTextLines lines;
  size_t start = 0;
  for (size_t i = 0; i <= text.size(); ++i) {
    if (i < text.size() && text[i] != '\r' && text[i] != '\n') continue;
    lines.emplace_back(text.substr(start, i - start));
    if (i + 1 < text.size() && text[i] == '\r' && text[i + 1] == '\n') ++i;
    start = i + 1;
  }
  if (text.empty() || lines[0].find(kTicketMagic) == std::string::npos) return t;
  t.Valid = true;
  for (size_t i = 1; i < lines.size(); ++i) {
    size_t eq = lines[i].find('=');
    if (eq == std::string::npos || eq == 0) continue;
    std::string_view line(lines[i]);
    std::string_view key = TrimText(line.substr(0, eq));
    std::string value(TrimText(line.substr(eq + 1)));
    int64_t number = 0;
    if (key == "Mode") {
      t.Mode = value;
    } else if (key == "CenterHz") {
      t.CenterHz = ParseInt64(value, number) ? number : 0;
    } else if (key == "SpanHz") {
      t.SpanHz = ParseInt64(value, number) ? number : 0;
    } else if (key == "Modulation") {
      t.Modulation = value;
    } else if (key == "Title") {
      t.Title = value;
    }
  }
  return t;
}
