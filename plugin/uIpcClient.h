#pragma once
// The plug-in's only way to the engine: finds out whether the engine's pipe is there, starts the engine
// program when a request may start it, sends one request per pipe connection, reads and judges the
// reply, keeps the text of the last failure, and parses the two data replies (SPECTRUM into a
// TTalvFrame, ENVELOPE into lanes of levels). Framing and reply lines are the protocol unit's.
//
// Waiting: the pipe counts as there when it answers a 20 ms wait (busy counts as there); a request
// connects within 500 ms; every read of the reply is bounded (15 s by default, long enough for START
// opening a receiver) and a silent engine gives "no reply from engine". A started engine is polled 40
// times at 50 ms. The waits read the clock of the setup, so tests need not sleep.
//
// Starting: only START, LIVE, SPECTRUM, ENVELOPE and DEVICES may start the engine; it is the program
// EngineFileName() in the plug-in's folder, run with the one argument --service, hidden, in that
// folder, keeping no handle. A mutex shared by every process of the user is held around the test and
// the start, so two threads (or two hosts) that both find no engine start it only once.
//
// Threads: any number of threads may call at once; each request has its own connection and lists. The
// last error text is kept per thread (each caller reads the text of its own latest request). Text:
// request values go out as UTF-8; reply lines come back as the engine's bytes, unchanged.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pClock.h"
#include "pPipe.h"
#include "uTalvConfig.h"
#include "uTalvProto.h"

// ---------------------------------------------------------------------------------------------
// Parsed data replies

struct TTalvMark {
  int64_t HzValue = 0;  // the marked channel
  double Snr = 0;       // its SNR in dB
};
struct TTalvPano {
  int64_t LoHz = 0;
  int64_t HiHz = 0;
  int32_t AgeMs = 0;  // since the hop's spectrum was taken; -1 = never
};
struct TTalvLevel {
  float Peak = 0;
  float Rms = 0;
};
using TTalvMarkArray = std::vector<TTalvMark>;
using TTalvPanoArray = std::vector<TTalvPano>;
using TTalvLevelArray = std::vector<TTalvLevel>;

struct TTalvLane {
  int64_t Hz = 0;     // the lane's key frequency
  int64_t Count = 0;  // samples ever written to the lane
  TTalvLevelArray Levels;
};
using TTalvLaneArray = std::vector<TTalvLane>;

// One SPECTRUM reply.
struct TTalvFrame {
  int64_t Center = 0;
  double Rate = 0;
  double Noise = 0;  // 0 without the line, -100 when its value does not parse
  int64_t Seq = 0;
  std::string Source;
  std::vector<float> Bins;  // dB per bin; a token that does not parse gives -140
  TTalvMarkArray Marks;
  int64_t LoHz = 0;
  int64_t HiHz = 0;
  TTalvPanoArray Pano;
};

// SPECTRUM reply lines (line 0, the status line, is skipped) into frame, which is emptied first. True
// when at least one bin came and no non-zero Count disagrees with the number of bins; the frame keeps
// what was parsed either way.
bool ParseSpectrumReply(const TTextLines& reply, TTalvFrame& frame);
// ENVELOPE reply lines (line 0 skipped): lanes emptied first, seq defaults to after, live to false,
// rate to 0. "Env=" lines before the first "Lane=" are ignored. Always true.
bool ParseEnvelopeReply(const TTextLines& reply, int64_t after, TTalvLaneArray& lanes, int64_t& seq,
                        bool& live, int32_t& rate);

// ---------------------------------------------------------------------------------------------
// The client

// The Windows engine's program name: "talvoran_engine64.exe" for a 64-bit plug-in or a 32-bit one
// under WOW64, else "talvoran_engine32.exe".
std::string EngineFileNameFor(bool is64BitBuild, bool underWow64);
// For this build on this system; a Linux build starts the Linux engine, "talvoran_engine".
std::string EngineFileName();

// The name of the user-wide mutex held around starting the engine.
constexpr const char* kEngineStartMutex = "wfx_talvoran_engine_start";

// Failure texts.
namespace ipc {
constexpr const char* kErrNotFound = "engine not found: ";  // + the engine path
constexpr const char* kErrCannotStart = "cannot start engine (error %d)";
constexpr const char* kErrNoAnswer = "engine started but did not answer on the pipe";
constexpr const char* kErrNotRunning = "engine is not running";
constexpr const char* kErrWrite = "write to engine failed";
constexpr const char* kErrNoReply = "no reply from engine";
}  // namespace ipc

struct TEngineClientSetup {
  std::string PipeName = plat::kPipeName;
  std::string EngineFolder;       // empty: PluginFolder()
  std::string EngineFile;         // empty: EngineFileName()
  plat::IClock* Clock = nullptr;  // null: the system clock
  uint32_t AliveWaitMs = 20;
  uint32_t ConnectTimeoutMs = 500;
  uint32_t ReplyTimeoutMs = 15000;  // per read of the reply
  int32_t StartPolls = 40;
  uint32_t StartPollMs = 50;
  uint32_t ClientPid = 0;  // 0: this process
};

class TEngineClient {
 public:
  explicit TEngineClient(TEngineClientSetup setup = {});

  const TEngineClientSetup& Setup() const { return FSetup; }
  // The full path of the engine program that EnsureEngine starts.
  std::string EnginePath() const;
  uint32_t ClientPid() const;

  // The pipe answers the short wait (or is busy).
  bool EngineAlive();
  // EngineAlive, or start the engine and poll until its pipe answers.
  bool EnsureEngine();
  // One request: clears the thread's last error; starts the engine first when autoStart; connects,
  // writes command, the stuffed body and "."; reads the reply into reply. True only for a reply whose
  // status line begins with "OK"; otherwise the last error holds the reason.
  bool EngineRequest(std::string_view command, const TTextLines* body, TTextLines& reply, bool autoStart);
  // QUIT without reading a reply, only when the pipe is there; reports nothing.
  void SendQuit();

  // The command wrappers: true on an "OK" reply; error gets the last error text on failure, "" else.
  bool StartScan(const TTalvConfig& cfg, std::string& error);
  bool StopScan(std::string& error);
  bool StartLive(const TTalvConfig& cfg, int64_t hz, TModulation modulation, std::string& error);
  bool StartLiveMulti(const TTalvConfig& cfg, std::string& error);
  bool StopLive(std::string& error);
  // SPECTRUM: frame emptied first; false when the request failed (frame empty) or the reply does not
  // parse (ParseSpectrumReply; the last error is then empty).
  bool Spectrum(const TTalvConfig& cfg, int64_t centerHz, int32_t bins, int64_t loHz, int64_t hiHz,
                TTalvFrame& frame);
  // ENVELOPE: lanes emptied, seq := after, live := false, rate := 0 before the request.
  bool Envelope(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLaneArray& lanes, int64_t& seq,
                bool& live, int32_t& rate);
  // ENVELOPE, the first lane's levels only (empty when there is no lane).
  bool EnvelopeFirst(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLevelArray& levels,
                     int64_t& seq, bool& live, int32_t& rate);

 private:
  plat::IClock& Clock() const;
  bool StartEngineLocked();
  bool SimpleRequest(const char* command, const TTextLines* body, bool autoStart, std::string& error);

  TEngineClientSetup FSetup;
};

// The 32 settings lines "Key=<value text>" in key-table order, then "ClientPid=<pid>".
TTextLines SettingsBodyLines(const TTalvConfig& cfg, uint32_t clientPid);

// The text of the calling thread's latest failed request ("" after a success).
std::string EngineLastError();
// Tests: sets the calling thread's text.
void SetEngineLastError(const std::string& text);

// ---------------------------------------------------------------------------------------------
// The plug-in's client (the shipped pipe, the plug-in's folder, the system clock) and the operations
// by their own names.

TEngineClient& DefaultEngineClient();

bool EngineAlive();
bool EnsureEngine();
void SendQuit();
bool EngineRequest(std::string_view command, const TTextLines* body, TTextLines& reply, bool autoStart);
bool EngineStartScan(const TTalvConfig& cfg, std::string& error);
bool EngineStopScan(std::string& error);
bool EngineStartLive(const TTalvConfig& cfg, int64_t hz, TModulation modulation, std::string& error);
bool EngineStartLiveMulti(const TTalvConfig& cfg, std::string& error);
bool EngineStopLive(std::string& error);
bool EngineSpectrum(const TTalvConfig& cfg, int64_t centerHz, int32_t bins, int64_t loHz, int64_t hiHz,
                    TTalvFrame& frame);
bool EngineEnvelope(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLaneArray& lanes, int64_t& seq,
                    bool& live, int32_t& rate);
bool EngineEnvelopeFirst(const TTalvConfig& cfg, int64_t after, int32_t max, TTalvLevelArray& levels,
                         int64_t& seq, bool& live, int32_t& rate);
