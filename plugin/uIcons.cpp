#include "uIcons.h"

#include <memory>
#include <mutex>
#include <vector>

#include "pWindow.h"

namespace {

using TActiveList = std::vector<int64_t>;

std::mutex gActiveLock;
std::shared_ptr<const TActiveList> gActive = std::make_shared<const TActiveList>();

std::shared_ptr<const TActiveList> ActiveSnapshot() {
  std::lock_guard<std::mutex> lock(gActiveLock);
  return gActive;
}

}  // namespace

void RememberActiveChannels(const TChannelRecArray& channels) {
  auto list = std::make_shared<TActiveList>();
  for (const TChannelRec& r : channels)
    if (r.Active) list->push_back(r.Hz);
  std::lock_guard<std::mutex> lock(gActiveLock);
  gActive = std::move(list);
}

bool IsChannelActive(int64_t hz) {
  std::shared_ptr<const TActiveList> list = ActiveSnapshot();
  for (int64_t h : *list)
    if (h == hz) return true;
  return false;
}

int IconIdForPath(const TVfsPath& path) {
  switch (path.Kind) {
    case vkRoot:
      return icon::kRoot;
    case vkConfig:
      return icon::kConfig;
    case vkConfigEntry:
    case vkSpectrumEntry:
      return icon::kEntry;
    case vkSpectrum:
    case vkLiveView:
      return icon::kSpectrum;
    case vkHops:
    case vkHop:
      return icon::kHops;
    case vkChannels:
    case vkArchive:
      return icon::kFolder;
    case vkChannel:
      return IsChannelActive(path.Hz) ? icon::kChannelActive : icon::kChannelIdle;
    case vkArchiveFolder:
      return icon::kChannelIdle;
    case vkCommand:
      if (path.Command == vfs::kStartScan) return icon::kStartScan;
      if (path.Command == vfs::kStopScan) return icon::kStopScan;
      if (path.Command == vfs::kLiveAudio) return icon::kLiveAudio;
      if (path.Command == vfs::kStopLiveAudio) return icon::kStopLiveAudio;
      return 0;
    case vkLiveAudio:
      return icon::kLiveAudio;
    case vkStatus:
      return icon::kStatus;
    default:
      return 0;
  }
}

uintptr_t LoadIconForPath(int iconId, bool small) {
  if (iconId <= 0) return 0;
  int size = plat::SystemIconSize(small);
  if (size <= 0) size = small ? 16 : 32;
  return plat::LoadModuleIcon(iconId, size);
}
