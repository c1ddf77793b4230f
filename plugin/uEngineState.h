#pragma once
// What the plug-in learns of the engine by asking it: the engine state behind the root listing, the
// Channels folder, the live audio dialog and the panel refresh (STATUS); the channel list (CHANNELS);
// the receiver list (DEVICES); and the generated report Status.txt with the file it is written to.
//
// Nothing is kept between calls: every reading is built from fresh requests through the plug-in's
// engine client (each request opens its own pipe connection). Only DEVICES may start the engine.
// The text builders take the replies as arguments, so they can be checked without a pipe.
//
// Threads: any host thread; no state of its own. Text is UTF-8; reply lines are the engine's bytes.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "uTalvConfig.h"
#include "uTalvProto.h"

// One reading of the engine; every field cleared until a STATUS reply came.
struct TEngineState {
  bool Alive = false;    // a STATUS reply was received
  bool Running = false;  // a scan runs
  bool Live = false;     // live audio plays
  int64_t LiveHz = 0;    // the frequency played (0 when not live or not readable)
  std::string LiveMod;   // the modulation played ("" when not live)
};

// One receiver of the DEVICES reply.
struct TDeviceInfo {
  int32_t Index = 0;
  std::string Kind;  // the receiver kind word: rtlsdr, hackrf
  std::string Name;
  std::string Serial;  // the receiver's id; may be empty
};
using TDeviceInfoArray = std::vector<TDeviceInfo>;

// The value of key in reply lines 1.. (line 0, the status line, is skipped): the first line whose
// first "=" stands at the second character or later and whose text before it equals key exactly;
// everything after that "=" (further "=" stay). dflt when no line matches.
std::string ReplyValue(const TTextLines& lines, std::string_view key, std::string_view dflt);
// The text before the first tab of rest; rest becomes the text after it (empty when there is none).
std::string SplitAtTab(std::string& rest);

// The state in a STATUS reply (Alive set).
TEngineState EngineStateFromReply(const TTextLines& status);
// Receivers of a DEVICES reply: lines 1.. that are neither empty nor begin with "#", read as
// index (0 when no number), kind, name, id; missing fields empty.
TDeviceInfoArray DevicesFromReply(const TTextLines& reply);
// Channel lines of a CHANNELS reply (lines 1..; lines that are no channel are skipped).
TChannelRecArray ChannelsFromReply(const TTextLines& reply);

// STATUS without starting the engine; true on an "OK" reply.
bool QueryStatus(TTextLines& lines);
// Cleared when the pipe does not answer its short wait (nothing is asked, nothing started) or STATUS
// fails; else the reply's state.
TEngineState ReadEngineState();
// Running of a fresh ReadEngineState.
bool IsScanRunning();
// CHANNELS without starting the engine; false (channels empty) when the request failed.
bool QueryChannels(TChannelRecArray& channels);
// DEVICES, starting the engine when it is not there; false (devices empty) when the request failed.
bool QueryDevices(TDeviceInfoArray& devices);

// The engine's part of Status.txt as it was asked: STATUS answered (statusOk) or not (then
// clientError is the client's reason), and CHANNELS answered (channelsOk) with its records.
struct TStatusReplies {
  bool StatusOk = false;
  TTextLines Status;
  std::string ClientError;
  bool ChannelsOk = false;
  TChannelRecArray Channels;
};

// Status.txt from the settings, the settings file's path and the replies; lines end in CR LF.
// Settings values use "."; the channel table's SNRs and times the user's decimal and time separators,
// read once per text.
std::string StatusTextFrom(const TTalvConfig& cfg, const std::string& iniPath, const TStatusReplies& replies);
// Loads the settings, asks STATUS and CHANNELS (never starting the engine) and builds Status.txt.
std::string BuildStatusText();

// Writes text as UTF-8 after a byte order mark into a new (or emptied) file. False when the file
// cannot be created or any byte fails to reach it; a file that was started is then deleted, so the
// host never keeps a cut report that it took for whole.
bool WriteLocalFile(const std::string& path, const std::string& text);

// A generated file fetched by the host (Status.txt, a ticket): kFsFileExists when localName exists
// and copyFlags lacks the overwrite bit (text is then not asked for), else the text of make() written
// by WriteLocalFile: kFsFileOk, or kFsFileWriteError when the file could not be written whole.
template <typename TMakeText>
int FetchGeneratedFile(const std::string& localName, int copyFlags, TMakeText make);
// FetchGeneratedFile with BuildStatusText.
int FetchStatusText(const std::string& localName, int copyFlags);

#include "pFile.h"
#include "uFsResults.h"
template <typename TMakeText>
int FetchGeneratedFile(const std::string& localName, int copyFlags, TMakeText make) {
  if ((copyFlags & kFsCopyFlagOverwrite) == 0 && plat::FileExists(localName)) return kFsFileExists;
  return WriteLocalFile(localName, make()) ? kFsFileOk : kFsFileWriteError;
}
