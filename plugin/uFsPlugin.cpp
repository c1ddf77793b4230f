#include "uFsPlugin.h"

#include "pClock.h"
#include "pViewWindow.h"
#include "pWindow.h"
#include "uEngineState.h"
#include "uFsResults.h"
#include "uIcons.h"
#include "uIpcClient.h"
#include "uPluginConfig.h"
#include "uRefreshTimer.h"

namespace {

TFindListPtr ListChannels(const TTalvConfig& cfg) {
  TChannelRecArray channels;
  if (!QueryChannels(channels)) return nullptr;
  RememberActiveChannels(channels);
  TFindListPtr list = ListChannelsFolder(channels);
  if (cfg.RefreshSec > 0) SetRefreshTimer(IsScanRunning(), cfg.RefreshSec);
  return list;
}

}  // namespace

void PluginLoad() {
  // Everything the unload step uses comes into being here, before the step is registered: static
  // objects are torn down in the reverse order of their making, after the step.
  plat::SystemClock();
  plat::PrepareThreadTimers();
  PluginState();
  DefaultEngineClient();
  RefreshTimerPeriod();
}

void PluginUnload() {
  StopRefreshTimer();
  if (PluginState().StopOnUnload()) SendQuit();
  // A view destroyed with its parent cannot unregister its class itself; a class left behind would
  // point at this library's window procedure after it is gone.
  plat::ReleaseLiveViewClass();
}

void PluginInit() {
  PluginState().LocateIni();
  LoadPluginConfig();
}

TFindListPtr ListFolder(const std::string& path, uint32_t& error) {
  const TTalvConfig cfg = LoadPluginConfig();
  const TVfsPath parsed = ParseVfsPath(path);
  SetRefreshTimer(false, 0);
  TFindListPtr list;
  switch (parsed.Kind) {
    case vkRoot: {
      const TEngineState st = ReadEngineState();
      list = ListRootFolder(st.Running, st.Live);
      break;
    }
    case vkConfig:
      list = ListConfigFolder(cfg);
      break;
    case vkChannels:
      list = ListChannels(cfg);
      break;
    case vkChannel:
      list = ListChannelFolder(RecordingsFolder(cfg), parsed.Hz);
      break;
    case vkSpectrum:
      list = ListSpectrumFolder(cfg);
      break;
    case vkHops:
      list = ListHopsFolder(cfg);
      break;
    case vkArchive:
      list = ListArchiveRoot(RecordingsFolder(cfg));
      break;
    case vkArchiveFolder:
      list = ListArchiveFolder(RecordingsFolder(cfg), parsed.Folder);
      break;
    case vkAllRecordings:
      list = ListAllRecordings(RecordingsFolder(cfg));
      break;
    default:
      error = kFsErrorPathNotFound;
      return nullptr;
  }
  if (!list || list->Count() == 0) {
    error = kFsErrorNoMoreFiles;
    return nullptr;
  }
  return list;
}

void PluginDisconnect() {
  SetRefreshTimer(false, 0);
}

const char* DefaultRootName() {
  return "Talvoran SDR";
}

const char* ListerDetectString() {
  return "EXT=\"TALVAUDIO\" | EXT=\"TALVVIEW\" | FIND(\"TALVORAN-LIVE/1\") | EXT=\"WAV\"";
}
