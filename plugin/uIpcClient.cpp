#include "uIpcClient.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "pFile.h"
#include "pLaunch.h"
#include "pSystem.h"
#include "uPluginConfig.h"

// ---------------------------------------------------------------------------------------------
// Last error, one per thread

namespace {
// The calling thread's text in a fixed buffer: a thread-local object with a destructor would keep the
// plug-in's shared object from ever unloading on Linux (the threads' exit handlers pin it), and with
// it the unload step that sends QUIT.
struct TThreadText {
  char Text[2048];
  size_t Len;
  TThreadText& operator=(const std::string& s) {
    Len = s.size() < sizeof Text ? s.size() : sizeof Text;
    std::memcpy(Text, s.data(), Len);
    return *this;
  }
  void clear() { Len = 0; }
  operator std::string() const { return std::string(Text, Len); }
};
thread_local TThreadText tLastError;
}  // namespace

std::string EngineLastError() {
  return tLastError;
}
void SetEngineLastError(const std::string& text) {
  tLastError = text;
}

// ---------------------------------------------------------------------------------------------
// Reply parsers

namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

int64_t IntOr(std::string_view text, int64_t dflt) {
  int64_t v = 0;
  return ParseInt64(text, v) ? v : dflt;
}

double NumberOr(std::string_view text, double dflt) {
  double v = 0;
  return ParsePoint(text, v) ? v : dflt;
}

int32_t Int32Or(std::string_view text, int32_t dflt) {
  int64_t v = 0;
  if (!ParseInt64(text, v) || v < std::numeric_limits<int32_t>::min() ||
      v > std::numeric_limits<int32_t>::max())
    return dflt;
  return static_cast<int32_t>(v);
}

// Calls fn with every non-empty blank-separated token of s.
template <class TFn>
void ForEachToken(std::string_view s, TFn fn) {
  size_t i = 0;
  while (i < s.size()) {
    size_t sp = s.find(' ', i);
    size_t end = sp == std::string_view::npos ? s.size() : sp;
    if (end > i) fn(s.substr(i, end - i));
    i = end + 1;
  }
}

// Key and value of a line whose first "=" stands after its first character.
bool SplitKeyValue(std::string_view line, std::string_view& key, std::string_view& value) {
  size_t eq = line.find('=');
  if (eq == std::string_view::npos || eq < 1) return false;
  key = line.substr(0, eq);
  value = line.substr(eq + 1);
  return true;
}

void ParsePano(std::string_view rest, TTalvFrame& f) {
  TTalvPano p;
  size_t sp = rest.find(' ');
  if (sp != std::string_view::npos) {
    p.LoHz = IntOr(rest.substr(0, sp), 0);
    std::string_view after = rest.substr(sp + 1);
    size_t sp2 = after.find(' ');
    if (sp2 != std::string_view::npos) {
      p.HiHz = IntOr(after.substr(0, sp2), 0);
      p.AgeMs = Int32Or(after.substr(sp2 + 1), -1);
    }
  }
  f.Pano.push_back(p);
}

void ParseMark(std::string_view rest, TTalvFrame& f) {
  size_t sp = rest.find(' ');
  if (sp == std::string_view::npos || sp < 1) return;
  TTalvMark m;
  m.HzValue = IntOr(rest.substr(0, sp), 0);
  std::string_view snr = rest.substr(sp + 1);
  size_t sp2 = snr.find(' ');
  if (sp2 != std::string_view::npos) snr = snr.substr(0, sp2);
  m.Snr = NumberOr(snr, 0);
  f.Marks.push_back(m);
}

}  // namespace

bool ParseSpectrumReply(const TTextLines& reply, TTalvFrame& f) {
  f = TTalvFrame{};
  int64_t count = 0;
  for (size_t i = 1; i < reply.size(); ++i) {
    std::string_view line = reply[i];
    if (StartsWith(line, "Bin=")) {
      if (f.Bins.capacity() == 0)
        f.Bins.reserve(count > 0 && count <= (1 << 20) ? static_cast<size_t>(count) : 256);
      ForEachToken(line.substr(4),
                   [&](std::string_view t) { f.Bins.push_back(static_cast<float>(NumberOr(t, -140))); });
      continue;
    }
    if (StartsWith(line, "Pano=")) {
      ParsePano(line.substr(5), f);
      continue;
    }
    if (StartsWith(line, "Mark=")) {
      ParseMark(line.substr(5), f);
      continue;
    }
    std::string_view key, value;
    if (!SplitKeyValue(line, key, value)) continue;
    if (key == "Center")
      f.Center = IntOr(value, 0);
    else if (key == "Rate")
      f.Rate = NumberOr(value, 0);
    else if (key == "Noise")
      f.Noise = NumberOr(value, -100);
    else if (key == "Seq")
      f.Seq = IntOr(value, 0);
    else if (key == "Source")
      f.Source = std::string(value);
    else if (key == "Count")
      count = IntOr(value, 0);
    else if (key == "LoHz")
      f.LoHz = IntOr(value, 0);
    else if (key == "HiHz")
      f.HiHz = IntOr(value, 0);
  }
  f.Bins.shrink_to_fit();
  return !f.Bins.empty() && (count == 0 || count == static_cast<int64_t>(f.Bins.size()));
}

bool ParseEnvelopeReply(const TTextLines& reply, int64_t after, TTalvLaneArray& lanes, int64_t& seq,
                        bool& live, int32_t& rate) {
  lanes.clear();
  seq = after;
  live = false;
  rate = 0;
  for (size_t i = 1; i < reply.size(); ++i) {
    std::string_view line = reply[i];
    if (StartsWith(line, "Lane=")) {
      if (!lanes.empty()) lanes.back().Levels.shrink_to_fit();
      std::string_view rest = line.substr(5);
      TTalvLane lane;
      size_t sp = rest.find(' ');
      if (sp != std::string_view::npos) {
        lane.Hz = IntOr(rest.substr(0, sp), 0);
        lane.Count = IntOr(rest.substr(sp + 1), 0);
      } else {
        lane.Hz = IntOr(rest, 0);
      }
      lane.Levels.reserve(128);
      lanes.push_back(std::move(lane));
      continue;
    }
    if (StartsWith(line, "Env=")) {
      if (lanes.empty()) continue;
      TTalvLevelArray& levels = lanes.back().Levels;
      ForEachToken(line.substr(4), [&](std::string_view t) {
        size_t comma = t.find(',');
        if (comma == std::string_view::npos || comma == 0) return;
        TTalvLevel l;
        l.Peak = static_cast<float>(NumberOr(t.substr(0, comma), 0));
        l.Rms = static_cast<float>(NumberOr(t.substr(comma + 1), 0));
        levels.push_back(l);
      });
      continue;
    }
    std::string_view key, value;
    if (!SplitKeyValue(line, key, value)) continue;
    if (key == "Seq")
      seq = IntOr(value, after);
    else if (key == "Live")
      live = value == "1";
    else if (key == "Rate")
      rate = Int32Or(value, 0);
  }
  if (!lanes.empty()) lanes.back().Levels.shrink_to_fit();
  return true;
}

// ---------------------------------------------------------------------------------------------
// Engine program

std::string EngineFileNameFor(bool is64BitBuild, bool underWow64) {
  return (is64BitBuild || underWow64) ? "talvoran_engine64.exe" : "talvoran_engine32.exe";
}

std::string EngineFileName() {
  if (!plat::IsWindowsBuild()) return "talvoran_engine";
  return EngineFileNameFor(plat::Is64BitBuild(), plat::RunningUnderWow64());
}

TTextLines SettingsBodyLines(const TTalvConfig& cfg, uint32_t clientPid) {
  TTextLines body;
  body.reserve(ConfigKeyCount() + 5);
  for (int i = 0; i < ConfigKeyCount(); ++i) {
    std::string key = ConfigKeyName(i);
    body.push_back(key + "=" + ConfigValueText(cfg, key));
  }
  body.push_back(std::string(proto::kClientPid) + "=" + std::to_string(clientPid));
  return body;
}

// ---------------------------------------------------------------------------------------------
// The client

TEngineClient::TEngineClient(TEngineClientSetup setup) : FSetup(std::move(setup)) {}

plat::IClock& TEngineClient::Clock() const {
  return FSetup.Clock ? *FSetup.Clock : plat::SystemClock();
}

std::string TEngineClient::EnginePath() const {
  std::string folder = FSetup.EngineFolder.empty() ? PluginFolder() : FSetup.EngineFolder;
  std::string file = FSetup.EngineFile.empty() ? EngineFileName() : FSetup.EngineFile;
  return JoinPath(folder, file);
}

uint32_t TEngineClient::ClientPid() const {
  return FSetup.ClientPid != 0 ? FSetup.ClientPid : plat::CurrentProcessId();
}

bool TEngineClient::EngineAlive() {
  return plat::PipeExists(FSetup.PipeName, FSetup.AliveWaitMs);
}

bool TEngineClient::EnsureEngine() {
  if (EngineAlive()) return true;
  // One start at a time for the whole user: whoever waited here finds the engine the other started.
  plat::TProcessMutex mutex(kEngineStartMutex + std::string(".") + FSetup.PipeName);
  uint32_t startMs = static_cast<uint32_t>(FSetup.StartPolls) * FSetup.StartPollMs;
  bool locked = mutex.Lock(startMs + 5000);
  bool ok = (locked && EngineAlive()) || StartEngineLocked();
  if (locked) mutex.Unlock();
  return ok;
}

bool TEngineClient::StartEngineLocked() {
  std::string path = EnginePath();
  if (!plat::FileExists(path)) {
    tLastError = ipc::kErrNotFound + path;
    return false;
  }
  std::string folder = FSetup.EngineFolder.empty() ? PluginFolder() : FSetup.EngineFolder;
  uint32_t code = 0;
  if (!plat::StartDetachedProcess(path, {"--service"}, folder, &code)) {
    char text[64];
    std::snprintf(text, sizeof(text), ipc::kErrCannotStart, static_cast<int>(code));
    tLastError = text;
    return false;
  }
  for (int32_t i = 0; i < FSetup.StartPolls; ++i) {
    Clock().SleepMs(FSetup.StartPollMs);
    if (EngineAlive()) return true;
  }
  tLastError = ipc::kErrNoAnswer;
  return false;
}

bool TEngineClient::EngineRequest(std::string_view command, const TTextLines* body, TTextLines& reply,
                                  bool autoStart) {
  tLastError.clear();
  reply.clear();
  if (autoStart && !EnsureEngine()) return false;
  std::unique_ptr<plat::TPipeConn> conn =
      plat::PipeConnect(FSetup.PipeName, FSetup.ConnectTimeoutMs, Clock());
  if (!conn) {
    tLastError = ipc::kErrNotRunning;
    return false;
  }
  static const TTextLines kNoBody;
  if (!SendRequest(*conn, command, body ? *body : kNoBody)) {
    tLastError = ipc::kErrWrite;
    return false;
  }
  conn->SetReadTimeout(FSetup.ReplyTimeoutMs);
  if (!ReadReply(*conn, reply)) {
    reply.clear();
    tLastError = ipc::kErrNoReply;
    return false;
  }
  if (ReplyIsOk(reply)) return true;
  tLastError = ReplyErrorText(reply);
  return false;
}

void TEngineClient::SendQuit() {
  if (!EngineAlive()) return;
  std::unique_ptr<plat::TPipeConn> conn = plat::PipeConnect(FSetup.PipeName, FSetup.AliveWaitMs, Clock());
  if (!conn) return;
  // Written and closed without a flush: the request waits in the pipe for the engine to read, and an
  // engine that no longer reads cannot hold the host's unload (a flush would wait for that read).
  static const char kQuit[] = "QUIT\r\n.\r\n";
  conn->Write(kQuit, sizeof(kQuit) - 1);
  conn->Close();
}

bool TEngineClient::SimpleRequest(const char* command, const TTextLines* body, bool autoStart,
                                  std::string& error) {
  error.clear();
  TTextLines reply;
  if (EngineRequest(command, body, reply, autoStart)) return true;
  error = tLastError;
  return false;
}

bool TEngineClient::StartScan(const TTalvConfig& cfg, std::string& error) {
  TTextLines body = SettingsBodyLines(cfg, ClientPid());
  return SimpleRequest(proto::kStart, &body, true, error);
}

bool TEngineClient::StopScan(std::string& error) {
  return SimpleRequest(proto::kStop, nullptr, false, error);
}

bool TEngineClient::StartLive(const TTalvConfig& cfg, int64_t hz, TModulation modulation,
                              std::string& error) {
  TTextLines body = SettingsBodyLines(cfg, ClientPid());
  body.push_back(std::string(proto::kLiveHz) + "=" + Int64ToWide(hz));
  body.push_back(std::string(proto::kLiveMod) + "=" + ModulationName(modulation));
  return SimpleRequest(proto::kLive, &body, true, error);
}

bool TEngineClient::StartLiveMulti(const TTalvConfig& cfg, std::string& error) {
  TTextLines body = SettingsBodyLines(cfg, ClientPid());
  body.push_back(std::string(proto::kLiveMulti) + "=1");
  return SimpleRequest(proto::kLive, &body, true, error);
}

bool TEngineClient::StopLive(std::string& error) {
  return SimpleRequest(proto::kLiveStop, nullptr, false, error);
}

bool TEngineClient::Spectrum(const TTalvConfig& cfg, int64_t centerHz, int32_t bins, int64_t loHz,
                             int64_t hiHz, TTalvFrame& frame) {
  frame = TTalvFrame{};
  TTextLines body = SettingsBodyLines(cfg, ClientPid());
  body.push_back(std::string(proto::kSpecCenter) + "=" + Int64ToWide(centerHz));
  body.push_back(std::string(proto::kSpecBins) + "=" + Int64ToWide(bins));
  body.push_back(std::string(proto::kSpecLo) + "=" + Int64ToWide(loHz));
  body.push_back(std::string(proto::kSpecHi) + "=" + Int64ToWide(hiHz));
  TTextLines reply;
  if (!EngineRequest(proto::kSpectrum, &body, reply, true)) return false;
  return ParseSpectrumReply(reply, frame);
}

bool TEngineClient::Envelope(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLaneArray& lanes,
                             int64_t& seq, bool& live, int32_t& rate) {
  lanes.clear();
  seq = after;
  live = false;
  rate = 0;
  TTextLines body;
  body.push_back("AudioRate=" + ConfigValueText(cfg, "AudioRate"));
  body.push_back(std::string(proto::kEnvAfter) + "=" + Int64ToWide(after));
  body.push_back(std::string(proto::kEnvMax) + "=" + Int64ToWide(max));
  body.push_back(std::string(proto::kClientPid) + "=" + std::to_string(ClientPid()));
  TTextLines reply;
  if (!EngineRequest(proto::kEnvelope, &body, reply, true)) return false;
  return ParseEnvelopeReply(reply, after, lanes, seq, live, rate);
}

bool TEngineClient::EnvelopeFirst(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLevelArray& levels,
                                  int64_t& seq, bool& live, int32_t& rate) {
  levels.clear();
  TTalvLaneArray lanes;
  bool ok = Envelope(cfg, after, max, lanes, seq, live, rate);
  if (ok && !lanes.empty()) levels = std::move(lanes[0].Levels);
  return ok;
}

// ---------------------------------------------------------------------------------------------
// The plug-in's client

TEngineClient& DefaultEngineClient() {
  static TEngineClient client;
  return client;
}

bool EngineAlive() {
  return DefaultEngineClient().EngineAlive();
}
bool EnsureEngine() {
  return DefaultEngineClient().EnsureEngine();
}
void SendQuit() {
  DefaultEngineClient().SendQuit();
}
bool EngineRequest(std::string_view command, const TTextLines* body, TTextLines& reply, bool autoStart) {
  return DefaultEngineClient().EngineRequest(command, body, reply, autoStart);
}
bool EngineStartScan(const TTalvConfig& cfg, std::string& error) {
  return DefaultEngineClient().StartScan(cfg, error);
}
bool EngineStopScan(std::string& error) {
  return DefaultEngineClient().StopScan(error);
}
bool EngineStartLive(const TTalvConfig& cfg, int64_t hz, TModulation modulation, std::string& error) {
  return DefaultEngineClient().StartLive(cfg, hz, modulation, error);
}
bool EngineStartLiveMulti(const TTalvConfig& cfg, std::string& error) {
  return DefaultEngineClient().StartLiveMulti(cfg, error);
}
bool EngineStopLive(std::string& error) {
  return DefaultEngineClient().StopLive(error);
}
bool EngineSpectrum(const TTalvConfig& cfg, int64_t centerHz, int32_t bins, int64_t loHz, int64_t hiHz,
                    TTalvFrame& frame) {
  return DefaultEngineClient().Spectrum(cfg, centerHz, bins, loHz, hiHz, frame);
}
bool EngineEnvelope(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLaneArray& lanes, int64_t& seq,
                    bool& live, int32_t& rate) {
  return DefaultEngineClient().Envelope(cfg, after, max, lanes, seq, live, rate);
}
bool EngineEnvelopeFirst(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLevelArray& levels,
                         int64_t& seq, bool& live, int32_t& rate) {
  return DefaultEngineClient().EnvelopeFirst(cfg, after, max, levels, seq, live, rate);
}
