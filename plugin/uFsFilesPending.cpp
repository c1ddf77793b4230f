// The file operations of uFsFiles.h answer "not supported" until their bodies land (they belong to the
// views work: retrieval, deletion, icons, previews and the lister window). That work replaces this
// file with its own. Status.txt is already fetched here, through the status unit.
#include "uEngineState.h"
#include "uFsFiles.h"
#include "uFsResults.h"
#include "uVfs.h"

int PluginGetFile(const std::string& remoteName, const std::string& localName, int copyFlags) {
  if (ParseVfsPath(remoteName).Kind == vkStatus) return FetchStatusText(localName, copyFlags);
  return kFsFileNotSupported;
}
bool PluginDeleteFile(const std::string&) {
  return false;
}
bool PluginRemoveDir(const std::string&) {
  return false;
}
int PluginExtractIcon(const std::string&, int, uintptr_t&) {
  return kFsIconUseDefault;
}
int PluginPreviewBitmap(const std::string&, int, int, uintptr_t&) {
  return kFsBitmapNone;
}
uintptr_t PluginListLoad(uintptr_t, const std::string&, int) {
  return 0;
}
void PluginListClose(uintptr_t) {}
uintptr_t PluginListPreviewBitmap(const std::string&, int, int) {
  return 0;
}
