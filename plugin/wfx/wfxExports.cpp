// The exports of wfx_talvoran: the file-system and lister functions the host finds by name. Each one
// converts the host's strings (UTF-16 or ANSI; on Linux "/" separated paths become the plug-in's "\"),
// catches everything at its boundary (nothing may escape into the host), and calls a portable body.
// The library-wide host state lives here: the plug-in number and the host's callbacks, kept by FsInitW
// only; FsInit (an ANSI host) keeps the number alone, so its dialogs count as cancelled.
//
// Threads: the host calls on its own threads; the callbacks are stored atomically at initialisation
// and read by any thread. Message boxes: the system's on Windows; on Linux, where there is none, the
// host's request callback with its message type.
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "pText.h"
#include "uFsExecute.h"
#include "uFsFiles.h"
#include "uFsPlugin.h"
#include "uFsResults.h"
#include "uHostUi.h"
#include "wfxHost.h"

#ifdef _WIN32
#define WFX_EXPORT extern "C"
#else
#define WFX_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::atomic<int> gPluginNr{0};
std::atomic<TWfxProgressProcW> gProgress{nullptr};
std::atomic<TWfxLogProcW> gLog{nullptr};  // kept as the host gave it; never called
std::atomic<TWfxRequestProcW> gRequest{nullptr};

// --- strings -----------------------------------------------------------------------------------

std::u16string HostText(const TWfxChar* s) {
  if (s == nullptr) return {};
  return std::u16string(reinterpret_cast<const char16_t*>(s));
}

std::string FromHost(const TWfxChar* s) {
  return plat::Utf16ToUtf8(HostText(s));
}

// A path of the plug-in's tree as the host gives it; Linux hosts separate with "/".
std::string FromHostPath(const TWfxChar* s) {
  std::string path = FromHost(s);
#ifndef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

std::string ToHostPathText(std::string path) {
#ifndef _WIN32
  for (char& c : path)
    if (c == '\\') c = '/';
#endif
  return path;
}

// Copies text into a host buffer of capacity characters: at most capacity - 1 and a terminating zero.
template <typename TChar, typename TString>
void CopyCut(const TString& text, TChar* buffer, size_t capacity) {
  if (buffer == nullptr || capacity == 0) return;
  const size_t n = text.size() < capacity - 1 ? text.size() : capacity - 1;
  for (size_t i = 0; i < n; ++i) buffer[i] = static_cast<TChar>(text[i]);
  buffer[n] = 0;
}

void CopyToHost(const std::string& utf8, TWfxChar* buffer, size_t capacity) {
  CopyCut(plat::Utf8ToUtf16(utf8), buffer, capacity);
}

std::string FromAnsi(const char* s) {
  return s == nullptr ? std::string() : plat::AnsiToUtf8(s);
}

std::u16string AnsiToHost16(const char* s) {
  return plat::Utf8ToUtf16(FromAnsi(s));
}

// Runs body; anything thrown ends as fallback.
template <typename TResult, typename TBody>
TResult Guarded(TResult fallback, TBody body) noexcept {
  try {
    return body();
  } catch (...) {
    return fallback;
  }
}

template <typename TBody>
void GuardedVoid(TBody body) noexcept {
  try {
    body();
  } catch (...) {
  }
}

void SetThreadError(uint32_t code) {
#ifdef _WIN32
  SetLastError(code);
#else
  errno = code == kFsErrorPathNotFound ? ENOENT : ENODATA;
#endif
}

// --- the host's dialogs ------------------------------------------------------------------------

class TExportHost : public IHostUi {
 public:
  bool Ask(const std::string& title, const std::string& prompt, std::string& text) override {
    const TWfxRequestProcW request = gRequest.load();
    if (request == nullptr) return false;
    TWfxChar buffer[kAskTextMaxLen + 1] = {};
    CopyToHost(text, buffer, kAskTextMaxLen + 1);
    const std::u16string t = plat::Utf8ToUtf16(title), p = plat::Utf8ToUtf16(prompt);
    if (!request(gPluginNr.load(), kWfxRtOther, reinterpret_cast<const TWfxChar*>(t.c_str()),
                 reinterpret_cast<const TWfxChar*>(p.c_str()), buffer, kAskTextMaxLen))
      return false;
    text = FromHost(buffer);
    return true;
  }

  void Message(uintptr_t owner, const std::string& text, const std::string& caption,
               uint32_t style) override {
    const std::u16string t = plat::Utf8ToUtf16(text), c = plat::Utf8ToUtf16(caption);
#ifdef _WIN32
    MessageBoxW(reinterpret_cast<HWND>(owner), reinterpret_cast<const wchar_t*>(t.c_str()),
                reinterpret_cast<const wchar_t*>(c.c_str()), style);
#else
    const TWfxRequestProcW request = gRequest.load();
    if (request == nullptr) return;
    char16_t none[1] = {0};
    request(gPluginNr.load(), kWfxRtMsgOk, c.c_str(), t.c_str(), none, 0);
#endif
  }

  bool Progress(const std::string& source, const std::string& target, int percent) override {
    const TWfxProgressProcW progress = gProgress.load();
    if (progress == nullptr) return false;
    const std::u16string s = plat::Utf8ToUtf16(source), t = plat::Utf8ToUtf16(target);
    return progress(gPluginNr.load(), reinterpret_cast<const TWfxChar*>(s.c_str()),
                    reinterpret_cast<const TWfxChar*>(t.c_str()), percent) == 1;
  }
};

TExportHost gHost;

// The library's life. Load: the host state is installed and the plug-in's state created. Unload: the
// unload step runs before the static objects it uses are torn down, whether the host frees the
// library or exits with it loaded. Windows: from DllMain, which the run-time calls ahead of the DLL's
// static destructors in both cases. Linux: as the destructor of a static object made once the load
// has made that state; a shared object's static destructors run in reverse order of their making, at
// dlclose and at exit alike (a destructor function would run after them at exit).
void LibraryLoaded() {
  GuardedVoid([] {
    SetHostUi(&gHost);
    PluginLoad();
  });
}

void LibraryUnloading() {
  GuardedVoid([] {
    PluginUnload();
    SetHostUi(nullptr);
  });
}

#ifndef _WIN32
struct TUnloadStep {
  ~TUnloadStep() { LibraryUnloading(); }
};

__attribute__((constructor)) void OnSharedObjectLoad() {
  LibraryLoaded();
  static TUnloadStep unload;
}
#endif

// --- find data -----------------------------------------------------------------------------------

void FillFindData(const TFindEntry& e, TWfxFindDataW* fd) {
  std::memset(fd, 0, sizeof *fd);
  fd->dwFileAttributes = e.Attributes;
  const uint32_t lo = static_cast<uint32_t>(e.FileTime), hi = static_cast<uint32_t>(e.FileTime >> 32);
  fd->ftCreationTime.dwLowDateTime = fd->ftLastAccessTime.dwLowDateTime = fd->ftLastWriteTime.dwLowDateTime =
      lo;
  fd->ftCreationTime.dwHighDateTime = fd->ftLastAccessTime.dwHighDateTime =
      fd->ftLastWriteTime.dwHighDateTime = hi;
  if ((e.Attributes & kAttrDirectory) == 0) {
    fd->nFileSizeHigh = static_cast<uint32_t>(static_cast<uint64_t>(e.Size) >> 32);
    fd->nFileSizeLow = static_cast<uint32_t>(e.Size);
  }
  CopyToHost(e.Name, fd->cFileName, kWfxMaxPath);
}

// The ANSI record from the UTF-16 one: attributes, times, sizes and the name; nothing else.
void CopyFindDataA(const TWfxFindDataW& w, TWfxFindDataA* a) {
  a->dwFileAttributes = w.dwFileAttributes;
  a->ftCreationTime = w.ftCreationTime;
  a->ftLastAccessTime = w.ftLastAccessTime;
  a->ftLastWriteTime = w.ftLastWriteTime;
  a->nFileSizeHigh = w.nFileSizeHigh;
  a->nFileSizeLow = w.nFileSizeLow;
  CopyCut(plat::Utf8ToAnsi(FromHost(w.cFileName)), a->cFileName, kWfxMaxPath);
}

TWfxHandle HandleOf(TFindList* list) {
  return reinterpret_cast<TWfxHandle>(list);
}

TFindList* ListOf(TWfxHandle handle) {
  if (handle == nullptr || handle == WfxInvalidHandle()) return nullptr;
  return reinterpret_cast<TFindList*>(handle);
}

}  // namespace

#ifdef _WIN32
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) LibraryLoaded();
  if (reason == DLL_PROCESS_DETACH) LibraryUnloading();
  return TRUE;
}
#endif

// --- initialisation --------------------------------------------------------------------------------

WFX_EXPORT int WFX_CALL FsInitW(int pluginNr, TWfxProgressProcW progress, TWfxLogProcW log,
                                TWfxRequestProcW request) {
  return Guarded(0, [&] {
    gPluginNr.store(pluginNr);
    gProgress.store(progress);
    gLog.store(log);
    gRequest.store(request);
    PluginInit();
    return 0;
  });
}

WFX_EXPORT int WFX_CALL FsInit(int pluginNr, TWfxProgressProcA, TWfxLogProcA, TWfxRequestProcA) {
  return Guarded(0, [&] {
    gPluginNr.store(pluginNr);
    PluginInit();
    return 0;
  });
}

WFX_EXPORT void WFX_CALL FsSetDefaultParams(TWfxDefaultParams*) {
  GuardedVoid([] { PluginInit(); });
}

WFX_EXPORT void WFX_CALL FsGetDefRootName(char* defRootName, int maxlen) {
  GuardedVoid([&] {
    if (maxlen > 0) CopyCut(std::string(DefaultRootName()), defRootName, static_cast<size_t>(maxlen));
  });
}

WFX_EXPORT void WFX_CALL ListGetDetectString(char* detectString, int maxlen) {
  GuardedVoid([&] {
    if (maxlen > 0) CopyCut(std::string(ListerDetectString()), detectString, static_cast<size_t>(maxlen));
  });
}

// --- listings ----------------------------------------------------------------------------------------

WFX_EXPORT TWfxHandle WFX_CALL FsFindFirstW(TWfxChar* path, TWfxFindDataW* findData) {
  return Guarded(WfxInvalidHandle(), [&] {
    uint32_t error = kFsErrorNoMoreFiles;
    TFindListPtr list = ListFolder(FromHostPath(path), error);
    TFindEntry first;
    if (!list || !list->Next(first)) {
      SetThreadError(error);
      return WfxInvalidHandle();
    }
    FillFindData(first, findData);
    return HandleOf(list.release());
  });
}

WFX_EXPORT TWfxBool WFX_CALL FsFindNextW(TWfxHandle handle, TWfxFindDataW* findData) {
  return Guarded(TWfxBool(0), [&] {
    TFindList* list = ListOf(handle);
    TFindEntry e;
    if (list == nullptr || !list->Next(e)) return TWfxBool(0);
    FillFindData(e, findData);
    return TWfxBool(-1);
  });
}

WFX_EXPORT int WFX_CALL FsFindClose(TWfxHandle handle) {
  return Guarded(0, [&] {
    delete ListOf(handle);
    return 0;
  });
}

WFX_EXPORT TWfxHandle WFX_CALL FsFindFirst(char* path, TWfxFindDataA* findData) {
  return Guarded(WfxInvalidHandle(), [&] {
    const std::u16string wide = AnsiToHost16(path);
    TWfxFindDataW w;
    TWfxHandle h = FsFindFirstW(const_cast<TWfxChar*>(reinterpret_cast<const TWfxChar*>(wide.c_str())), &w);
    if (h != WfxInvalidHandle()) CopyFindDataA(w, findData);
    return h;
  });
}

WFX_EXPORT TWfxBool WFX_CALL FsFindNext(TWfxHandle handle, TWfxFindDataA* findData) {
  return Guarded(TWfxBool(0), [&] {
    TWfxFindDataW w;
    const TWfxBool more = FsFindNextW(handle, &w);
    if (more) CopyFindDataA(w, findData);
    return more;
  });
}

// --- actions -------------------------------------------------------------------------------------------

WFX_EXPORT int WFX_CALL FsExecuteFileW(TWfxWindow mainWin, TWfxChar* remoteName, TWfxChar* verb) {
  return Guarded(kFsExecError, [&] {
    std::string name = FromHostPath(remoteName);
    const std::string verbText = FromHost(verb);
    const int result = ExecuteFile(reinterpret_cast<uintptr_t>(mainWin), name, verb ? &verbText : nullptr);
    if (result == kFsExecSymlink) CopyToHost(ToHostPathText(name), remoteName, kWfxMaxPath);
    return result;
  });
}

WFX_EXPORT int WFX_CALL FsExecuteFile(TWfxWindow mainWin, char* remoteName, char* verb) {
  return Guarded(kFsExecError, [&] {
    TWfxChar buffer[kWfxMaxPath] = {};
    CopyCut(AnsiToHost16(remoteName), buffer, kWfxMaxPath);
    const std::u16string verbWide = AnsiToHost16(verb);
    TWfxChar* verbArg =
        verb ? const_cast<TWfxChar*>(reinterpret_cast<const TWfxChar*>(verbWide.c_str())) : nullptr;
    const int result = FsExecuteFileW(mainWin, buffer, verbArg);
    if (result == kFsExecSymlink) CopyCut(plat::Utf8ToAnsi(FromHost(buffer)), remoteName, kWfxMaxPath);
    return result;
  });
}

WFX_EXPORT void WFX_CALL FsStatusInfoW(TWfxChar*, int, int) {}
WFX_EXPORT void WFX_CALL FsStatusInfo(char*, int, int) {}

WFX_EXPORT TWfxBool WFX_CALL FsDisconnectW(TWfxChar*) {
  return Guarded(TWfxBool(1), [] {
    PluginDisconnect();
    return TWfxBool(1);
  });
}

WFX_EXPORT TWfxBool WFX_CALL FsDisconnect(char*) {
  return 1;
}

// --- files: retrieval, deletion, icons and previews -----------------------------------------------

WFX_EXPORT int WFX_CALL FsGetFileW(TWfxChar* remoteName, TWfxChar* localName, int copyFlags, void*) {
  return Guarded(kFsFileWriteError,
                 [&] { return PluginGetFile(FromHostPath(remoteName), FromHost(localName), copyFlags); });
}

WFX_EXPORT int WFX_CALL FsGetFile(char* remoteName, char* localName, int copyFlags, void* remoteInfo) {
  return Guarded(kFsFileWriteError, [&] {
    std::u16string r = AnsiToHost16(remoteName), l = AnsiToHost16(localName);
    return FsGetFileW(reinterpret_cast<TWfxChar*>(r.data()), reinterpret_cast<TWfxChar*>(l.data()), copyFlags,
                      remoteInfo);
  });
}

WFX_EXPORT TWfxBool WFX_CALL FsDeleteFileW(TWfxChar* remoteName) {
  return Guarded(TWfxBool(0), [&] { return TWfxBool(PluginDeleteFile(FromHostPath(remoteName)) ? 1 : 0); });
}

WFX_EXPORT TWfxBool WFX_CALL FsDeleteFile(char* remoteName) {
  return Guarded(TWfxBool(0), [&] {
    std::u16string r = AnsiToHost16(remoteName);
    return FsDeleteFileW(reinterpret_cast<TWfxChar*>(r.data()));
  });
}

WFX_EXPORT TWfxBool WFX_CALL FsRemoveDirW(TWfxChar* remoteName) {
  return Guarded(TWfxBool(0), [&] { return TWfxBool(PluginRemoveDir(FromHostPath(remoteName)) ? 1 : 0); });
}

WFX_EXPORT TWfxBool WFX_CALL FsRemoveDir(char* remoteName) {
  return Guarded(TWfxBool(0), [&] {
    std::u16string r = AnsiToHost16(remoteName);
    return FsRemoveDirW(reinterpret_cast<TWfxChar*>(r.data()));
  });
}

WFX_EXPORT int WFX_CALL FsExtractCustomIconW(TWfxChar* remoteName, int extractFlags, TWfxIcon* theIcon) {
  return Guarded(kFsIconUseDefault, [&] {
    uintptr_t icon = 0;
    const int result = PluginExtractIcon(FromHostPath(remoteName), extractFlags, icon);
    if (result == kFsIconExtractedDestroy && theIcon != nullptr) *theIcon = reinterpret_cast<TWfxIcon>(icon);
    return result;
  });
}

WFX_EXPORT int WFX_CALL FsExtractCustomIcon(char* remoteName, int extractFlags, TWfxIcon* theIcon) {
  return Guarded(kFsIconUseDefault, [&] {
    std::u16string r = AnsiToHost16(remoteName);
    return FsExtractCustomIconW(reinterpret_cast<TWfxChar*>(r.data()), extractFlags, theIcon);
  });
}

WFX_EXPORT int WFX_CALL FsGetPreviewBitmapW(TWfxChar* remoteName, int width, int height,
                                            TWfxBitmap* returnedBitmap) {
  return Guarded(kFsBitmapNone, [&] {
    uintptr_t bitmap = 0;
    const int result = PluginPreviewBitmap(FromHostPath(remoteName), width, height, bitmap);
    if (result == kFsBitmapExtracted && returnedBitmap != nullptr)
      *returnedBitmap = reinterpret_cast<TWfxBitmap>(bitmap);
    return result;
  });
}

WFX_EXPORT int WFX_CALL FsGetPreviewBitmap(char* remoteName, int width, int height,
                                           TWfxBitmap* returnedBitmap) {
  return Guarded(kFsBitmapNone, [&] {
    std::u16string r = AnsiToHost16(remoteName);
    return FsGetPreviewBitmapW(reinterpret_cast<TWfxChar*>(r.data()), width, height, returnedBitmap);
  });
}

// --- the lister ------------------------------------------------------------------------------------

WFX_EXPORT TWfxWindow WFX_CALL ListLoadW(TWfxWindow parentWin, TWfxChar* fileToLoad, int showFlags) {
  return Guarded(TWfxWindow(nullptr), [&] {
    return reinterpret_cast<TWfxWindow>(
        PluginListLoad(reinterpret_cast<uintptr_t>(parentWin), FromHost(fileToLoad), showFlags));
  });
}

WFX_EXPORT TWfxWindow WFX_CALL ListLoad(TWfxWindow parentWin, char* fileToLoad, int showFlags) {
  return Guarded(TWfxWindow(nullptr), [&] {
    std::u16string f = AnsiToHost16(fileToLoad);
    return ListLoadW(parentWin, reinterpret_cast<TWfxChar*>(f.data()), showFlags);
  });
}

WFX_EXPORT void WFX_CALL ListCloseWindow(TWfxWindow listWin) {
  GuardedVoid([&] { PluginListClose(reinterpret_cast<uintptr_t>(listWin)); });
}

WFX_EXPORT TWfxBitmap WFX_CALL ListGetPreviewBitmapW(TWfxChar* fileToLoad, int width, int height, char*,
                                                     int) {
  return Guarded(TWfxBitmap(nullptr), [&] {
    if (fileToLoad == nullptr || fileToLoad[0] == 0) return TWfxBitmap(nullptr);
    return reinterpret_cast<TWfxBitmap>(PluginListPreviewBitmap(FromHost(fileToLoad), width, height));
  });
}

WFX_EXPORT TWfxBitmap WFX_CALL ListGetPreviewBitmap(char* fileToLoad, int width, int height, char* contentBuf,
                                                    int contentBufLen) {
  return Guarded(TWfxBitmap(nullptr), [&] {
    std::u16string f = AnsiToHost16(fileToLoad);
    return ListGetPreviewBitmapW(reinterpret_cast<TWfxChar*>(f.data()), width, height, contentBuf,
                                 contentBufLen);
  });
}
