#pragma once
// The icon of each path kind, and the list of active channels that decides whether a channel folder
// shows the "active" icon. The list is replaced whole (a new shared array swapped under a lock) after
// each successful Channels listing, and read by the icon routine on any host thread; a failed listing
// keeps the previous list.
#include <cstdint>

#include "uTalvProto.h"
#include "uVfs.h"

// Icon group ids carried by the library: 1 and 10..21.
namespace icon {
constexpr int kRoot = 1;
constexpr int kConfig = 10;
constexpr int kEntry = 11;
constexpr int kSpectrum = 12;
constexpr int kHops = 13;
constexpr int kFolder = 14;
constexpr int kChannelActive = 15;
constexpr int kChannelIdle = 16;
constexpr int kStartScan = 17;
constexpr int kStopScan = 18;
constexpr int kLiveAudio = 19;
constexpr int kStatus = 20;
constexpr int kStopLiveAudio = 21;
}  // namespace icon

// The list becomes the Hz of the active records, in record order.
void RememberActiveChannels(const TChannelRecArray& channels);
bool IsChannelActive(int64_t hz);
// The icon id of a parsed path; 0 means the host's default icon.
int IconIdForPath(const TVfsPath& path);
// The icon for an id (system size for small or large, else 16 / 32); 0 for id 0 or less, or when the
// library has no such icon. The caller owns it.
uintptr_t LoadIconForPath(int iconId, bool small);
