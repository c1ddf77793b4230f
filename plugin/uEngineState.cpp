#include "uEngineState.h"

#include <algorithm>
#include <cstdio>

#include "pBinFile.h"
#include "pFind.h"
#include "pFs.h"
#include "pSystem.h"
#include "pText.h"
#include "uIpcClient.h"
#include "uPluginConfig.h"
#include "uVfs.h"

namespace {

// Left-aligns text in width characters (UTF-8 sequences count once); longer text is kept whole.
std::string PadRight(std::string_view text, size_t width) {
  size_t chars = 0;
  for (char c : text)
    if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++chars;
  std::string out(text);
  if (chars < width) out.append(width - chars, ' ');
  return out;
}

std::string PadLeft(const std::string& text, size_t width) {
  return text.size() < width ? std::string(width - text.size(), ' ') + text : text;
}

// "%d" with a minimum width, right-aligned.
std::string IntField(int64_t v, size_t width) {
  return PadLeft(std::to_string(v), width);
}

// One decimal in the user's format: the "." text of the settings unit with the locale's separator.
std::string LocaleFixed1(double v, const std::string& decimalSeparator) {
  std::string text = FormatPoint(v, 1);
  const size_t dot = text.find('.');
  if (dot != std::string::npos) text.replace(dot, 1, decimalSeparator);
  return text;
}

// "yyyy-mm-dd hh:nn:ss" with the user's time separator; a time outside the years 1 to 9999 (a reply
// can carry any number) shows as the nearest end of that range.
std::string LocaleDateTime(double dateTime, const std::string& timeSeparator) {
  const plat::TLocalTime t = plat::DateTimeParts(std::clamp(dateTime, -693593.0, 2958465.99999));
  char date[32], hh[8], nn[8], ss[8];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d ", t.Year, t.Month, t.Day);
  std::snprintf(hh, sizeof hh, "%02d", t.Hour);
  std::snprintf(nn, sizeof nn, "%02d", t.Minute);
  std::snprintf(ss, sizeof ss, "%02d", t.Second);
  return std::string(date) + hh + timeSeparator + nn + timeSeparator + ss;
}

// An integer value of a reply, 0 when it does not read as one.
int64_t ReplyInt(const TTextLines& lines, std::string_view key) {
  int64_t v = 0;
  return ParseInt64(ReplyValue(lines, key, "0"), v) ? v : 0;
}

const char* LevelLine(const std::string& level) {
  if (level == "good") return "Level:   good\r\n";
  if (level == "quiet")
    return "Level:   QUIET - below one quantisation step, watch for a mirror image about the tuner "
           "centre\r\n";
  if (level == "loud") return "Level:   LOUD - close to full scale, watch for intermodulation spurs\r\n";
  if (level == "clipping") return "Level:   CLIPPING - the converter is overdriven\r\n";
  return nullptr;
}

void AppendEngineBlock(std::string& out, const TStatusReplies& replies) {
  if (!replies.StatusOk) {
    out += "Engine:  not running\r\n";
    out += "         (" + replies.ClientError + ")\r\n";
    out += "\r\nExecute \"" + std::string(vfs::kStartScan) + "\" to start it.\r\n";
    return;
  }
  const TTextLines& s = replies.Status;
  const bool scanning = ReplyValue(s, "Running", "0") == "1";
  out += scanning ? "Engine:  running, scanning\r\n" : "Engine:  running, idle\r\n";
  out += "PID:     " + ReplyValue(s, "EnginePid", "?") + "\r\n";
  out += "SIMD:    " + ReplyValue(s, "Simd", "?") + "\r\n";
  if (scanning) {
    out += "Device:  " + ReplyValue(s, "Device", "?") + "\r\n";
    out += "Sweeps:  " + ReplyValue(s, "Sweeps", "0") + "\r\n";
    out += "Hop:     " + ReplyValue(s, "HopIndex", "0") + " / " + ReplyValue(s, "HopCount", "0") + "\r\n";
    out += "Noise:   " + ReplyValue(s, "NoiseDb", "?") + " dBFS\r\n";
    if (const char* level = LevelLine(ReplyValue(s, "Level", ""))) out += level;
  }
  if (ReplyValue(s, "Live", "0") == "1") {
    out += "Live:    " + FormatHz(ReplyInt(s, "LiveHz")) + " " + ReplyValue(s, "LiveMod", "") +
           " (tuner centre " + FormatHz(ReplyInt(s, "LiveCenter")) + ")\r\n";
  } else {
    out += "Live:    off\r\n";
  }
  const std::string error = ReplyValue(s, "LastError", "");
  if (!error.empty()) out += "Error:   " + error + "\r\n";
}

void AppendChannelBlock(std::string& out, const TStatusReplies& replies) {
  if (!replies.ChannelsOk || replies.Channels.empty()) return;
  // One reading of the user's locale for the whole table: asking it costs more than a line.
  const plat::TLocaleSeparators separators = plat::ReadLocaleSeparators();
  out += "\r\nDetected channels\r\n-----------------\r\n";
  out += "  Frequency        Hits   max SNR  last SNR  last seen            state\r\n";
  for (const TChannelRec& c : replies.Channels) {
    out += "  " + PadRight(FormatMHzExact(c.Hz), 16) + " " + IntField(c.Hits, 5) + "  " +
           PadLeft(LocaleFixed1(c.PeakSnrDb, separators.Decimal), 7) + "  " +
           PadLeft(LocaleFixed1(c.LastSnrDb, separators.Decimal), 8) + "  " +
           LocaleDateTime(c.LastSeen, separators.Time) + "  " + (c.Active ? "active" : "stopped") + "\r\n";
  }
}

}  // namespace

std::string ReplyValue(const TTextLines& lines, std::string_view key, std::string_view dflt) {
  for (size_t i = 1; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const size_t eq = line.find('=');
    if (eq == std::string::npos || eq == 0) continue;
    if (std::string_view(line).substr(0, eq) == key) return line.substr(eq + 1);
  }
  return std::string(dflt);
}

std::string SplitAtTab(std::string& rest) {
  const size_t tab = rest.find('\t');
  std::string first;
  if (tab == std::string::npos) {
    first.swap(rest);
  } else {
    first = rest.substr(0, tab);
    rest.erase(0, tab + 1);
  }
  return first;
}

TEngineState EngineStateFromReply(const TTextLines& status) {
  TEngineState st;
  st.Alive = true;
  st.Running = ReplyValue(status, "Running", "0") == "1";
  st.Live = ReplyValue(status, "Live", "0") == "1";
  if (st.Live) {
    st.LiveHz = ReplyInt(status, "LiveHz");
    st.LiveMod = ReplyValue(status, "LiveMod", "");
  }
  return st;
}

TDeviceInfoArray DevicesFromReply(const TTextLines& reply) {
  TDeviceInfoArray devices;
  for (size_t i = 1; i < reply.size(); ++i) {
    if (reply[i].empty() || reply[i][0] == '#') continue;
    std::string rest = reply[i];
    TDeviceInfo d;
    d.Index = static_cast<int32_t>(ParseIntDef(SplitAtTab(rest), 0));
    d.Kind = SplitAtTab(rest);
    d.Name = SplitAtTab(rest);
    d.Serial = SplitAtTab(rest);
    devices.push_back(std::move(d));
  }
  return devices;
}

TChannelRecArray ChannelsFromReply(const TTextLines& reply) {
  TChannelRecArray channels;
  for (size_t i = 1; i < reply.size(); ++i) {
    TChannelRec rec;
    if (ParseChannelLine(reply[i], rec)) channels.push_back(rec);
  }
  return channels;
}

bool QueryStatus(TTextLines& lines) {
  return EngineRequest("STATUS", nullptr, lines, false);
}

TEngineState ReadEngineState() {
  if (!EngineAlive()) return {};
  TTextLines lines;
  if (!QueryStatus(lines)) return {};
  return EngineStateFromReply(lines);
}

bool IsScanRunning() {
  return ReadEngineState().Running;
}

bool QueryChannels(TChannelRecArray& channels) {
  channels.clear();
  TTextLines lines;
  if (!EngineRequest("CHANNELS", nullptr, lines, false)) return false;
  channels = ChannelsFromReply(lines);
  return true;
}

bool QueryDevices(TDeviceInfoArray& devices) {
  devices.clear();
  TTextLines lines;
  if (!EngineRequest("DEVICES", nullptr, lines, true)) return false;
  devices = DevicesFromReply(lines);
  return true;
}

std::string StatusTextFrom(const TTalvConfig& cfg, const std::string& iniPath,
                           const TStatusReplies& replies) {
  std::string out = "wfx_talvoran - status\r\n======================\r\n\r\n";
  AppendEngineBlock(out, replies);

  out += "\r\nSpectrum\r\n--------\r\n";
  for (int entry = 1; entry <= 6; ++entry)
    out += PadRight(SpectrumEntryName(entry), 24) + " " + SpectrumEntryValue(cfg, entry) + "\r\n";
  TScanHopArray hops;
  BuildHops(hops, cfg.StartHz, cfg.StopHz, static_cast<double>(cfg.SampleRate), 0.075);
  for (size_t i = 0; i < hops.size(); ++i) {
    out += "  hop " + IntField(static_cast<int64_t>(i + 1), 2) + "  center " +
           PadRight(FormatHz(hops[i].CenterHz), 14) + " " + FormatHz(hops[i].LoHz) + " - " +
           FormatHz(hops[i].HiHz) + "\r\n";
  }

  out += "\r\nSettings\r\n--------\r\n";
  for (int i = 0; i < ConfigKeyCount(); ++i) {
    const std::string key = ConfigKeyName(i);
    out += PadRight(ConfigDisplayName(key), 24) + " " + ConfigValueText(cfg, key) + "\r\n";
  }
  out += "\r\nINI: " + iniPath + "\r\n";
  AppendChannelBlock(out, replies);
  return out;
}

std::string BuildStatusText() {
  const TTalvConfig cfg = LoadPluginConfig();
  TStatusReplies replies;
  replies.StatusOk = QueryStatus(replies.Status);
  if (!replies.StatusOk) replies.ClientError = EngineLastError();
  replies.ChannelsOk = QueryChannels(replies.Channels);
  return StatusTextFrom(cfg, PluginState().IniPath(), replies);
}

bool WriteLocalFile(const std::string& path, const std::string& text) {
  plat::TBinFile file;
  if (!file.Create(path)) return false;
  static const unsigned char kBom[3] = {0xEF, 0xBB, 0xBF};
  bool whole = file.Write(kBom, sizeof kBom) == sizeof kBom;
  if (whole && !text.empty()) whole = file.Write(text.data(), text.size()) == text.size();
  file.Close();
  if (!whole) plat::RemoveFile(path);
  return whole;
}

int FetchStatusText(const std::string& localName, int copyFlags) {
  return FetchGeneratedFile(localName, copyFlags, [] { return BuildStatusText(); });
}
