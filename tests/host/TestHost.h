#pragma once
// A host of our own that plays Total Commander's part for the plug-in: it copies the built library into
// a fresh folder and loads it from there, resolves every export by name, hands over progress, log and
// request callbacks that record each call, answers the request callback (the input dialog) from a
// script, captures message boxes (text, caption, style) instead of showing them, and - on Windows -
// owns a hidden "TTOTAL_CMD" window that counts the panel-refresh posts and pumps messages for timer
// ticks. On Linux it speaks the Linux hosts' ABI ("/" in paths, char16_t text) and sees messages
// through the request callback's message type, without their style.
//
// One host is active at a time (the callbacks carry no user data); the tests run it on one thread.
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "pDynLib.h"
#include "wfxHost.h"

namespace hosttest {

// Every export of the plug-in, resolved by name.
struct TWfxExports {
  int(WFX_CALL* FsInitW)(int, TWfxProgressProcW, TWfxLogProcW, TWfxRequestProcW) = nullptr;
  int(WFX_CALL* FsInit)(int, TWfxProgressProcA, TWfxLogProcA, TWfxRequestProcA) = nullptr;
  TWfxHandle(WFX_CALL* FsFindFirstW)(TWfxChar*, TWfxFindDataW*) = nullptr;
  TWfxHandle(WFX_CALL* FsFindFirst)(char*, TWfxFindDataA*) = nullptr;
  TWfxBool(WFX_CALL* FsFindNextW)(TWfxHandle, TWfxFindDataW*) = nullptr;
  TWfxBool(WFX_CALL* FsFindNext)(TWfxHandle, TWfxFindDataA*) = nullptr;
  int(WFX_CALL* FsFindClose)(TWfxHandle) = nullptr;
  int(WFX_CALL* FsExecuteFileW)(TWfxWindow, TWfxChar*, TWfxChar*) = nullptr;
  int(WFX_CALL* FsExecuteFile)(TWfxWindow, char*, char*) = nullptr;
  int(WFX_CALL* FsGetFileW)(TWfxChar*, TWfxChar*, int, void*) = nullptr;
  int(WFX_CALL* FsGetFile)(char*, char*, int, void*) = nullptr;
  TWfxBool(WFX_CALL* FsDeleteFileW)(TWfxChar*) = nullptr;
  TWfxBool(WFX_CALL* FsDeleteFile)(char*) = nullptr;
  TWfxBool(WFX_CALL* FsRemoveDirW)(TWfxChar*) = nullptr;
  TWfxBool(WFX_CALL* FsRemoveDir)(char*) = nullptr;
  int(WFX_CALL* FsExtractCustomIconW)(TWfxChar*, int, TWfxIcon*) = nullptr;
  int(WFX_CALL* FsExtractCustomIcon)(char*, int, TWfxIcon*) = nullptr;
  int(WFX_CALL* FsGetPreviewBitmapW)(TWfxChar*, int, int, TWfxBitmap*) = nullptr;
  int(WFX_CALL* FsGetPreviewBitmap)(char*, int, int, TWfxBitmap*) = nullptr;
  void(WFX_CALL* FsStatusInfoW)(TWfxChar*, int, int) = nullptr;
  void(WFX_CALL* FsStatusInfo)(char*, int, int) = nullptr;
  TWfxBool(WFX_CALL* FsDisconnectW)(TWfxChar*) = nullptr;
  TWfxBool(WFX_CALL* FsDisconnect)(char*) = nullptr;
  void(WFX_CALL* FsGetDefRootName)(char*, int) = nullptr;
  void(WFX_CALL* FsSetDefaultParams)(TWfxDefaultParams*) = nullptr;
  TWfxWindow(WFX_CALL* ListLoadW)(TWfxWindow, TWfxChar*, int) = nullptr;
  TWfxWindow(WFX_CALL* ListLoad)(TWfxWindow, char*, int) = nullptr;
  void(WFX_CALL* ListCloseWindow)(TWfxWindow) = nullptr;
  void(WFX_CALL* ListGetDetectString)(char*, int) = nullptr;
  TWfxBitmap(WFX_CALL* ListGetPreviewBitmapW)(TWfxChar*, int, int, char*, int) = nullptr;
  TWfxBitmap(WFX_CALL* ListGetPreviewBitmap)(char*, int, int, char*, int) = nullptr;
};

// The names the host looks for, in the order of TWfxExports.
extern const char* const kExportNames[31];

struct TRequestSeen {
  int PluginNr = 0;
  int Type = 0;
  std::string Title;
  std::string Text;     // the prompt
  std::string Offered;  // the text in the buffer when the dialog opened
  int MaxLen = 0;
};
struct TMessageSeen {
  std::string Text;
  std::string Caption;
  int64_t Style = -1;  // -1: not visible to this host (Linux)
};
struct TProgressSeen {
  std::string Source;
  std::string Target;
  int Percent = 0;
};
// One entry of a listing, as the host received it.
struct TListedEntry {
  std::string Name;
  uint32_t Attributes = 0;
  uint64_t Size = 0;
  uint64_t WriteTime = 0;
  bool TimesEqual = false;  // creation, access and last write carry the same time
};
struct TListing {
  bool Ok = false;         // a handle came back
  uint32_t LastError = 0;  // the thread's error when no handle came (Windows codes; errno on Linux)
  std::vector<TListedEntry> Entries;
  std::vector<std::string> Names() const;
};

class TTestHost {
 public:
  TTestHost();
  ~TTestHost();
  TTestHost(const TTestHost&) = delete;
  TTestHost& operator=(const TTestHost&) = delete;

  // The built plug-in beside the test program.
  static std::string BuiltPlugin();
  // Copies the plug-in into folder (kept under its own name) and loads it from there; false with the
  // reason in error. Every export is resolved; see MissingExports.
  bool Load(const std::string& folder, std::string& error);
  // Loads a plug-in file where it lies (an installed or unpacked package).
  bool LoadInPlace(const std::string& pluginPath, std::string& error);
  // Unloads (the library's unload step runs).
  void Unload();
  bool Loaded() const { return FLib != nullptr; }
  std::string PluginPath() const { return FPluginPath; }
  std::vector<std::string> MissingExports() const;
  const TWfxExports& X() const { return FX; }

  // FsInitW with the recording callbacks, or FsInit with ANSI ones (which the plug-in does not keep).
  int InitW(int pluginNr = 7);
  int InitA(int pluginNr = 7);

  // The script of the input dialog: each request takes the next answer; none left means cancelled.
  void Answer(const std::string& text) { FAnswers.push_back({true, text}); }
  void Cancel() { FAnswers.push_back({false, {}}); }
  size_t AnswersLeft() const { return FAnswers.size(); }
  // What the progress callback answers (1 = the user cancelled).
  int ProgressAnswer = 0;

  std::vector<TRequestSeen> Requests;
  std::vector<TMessageSeen> Messages;
  std::vector<TProgressSeen> Progress;
  int LogCalls = 0;
  void ClearSeen();

  // The exports in the host's own terms: virtual paths written with "\" (sent with "/" on Linux).
  TListing List(const std::string& path);
  TListing ListAnsi(const std::string& path);
  int Execute(std::string& remoteName, const char* verb, uintptr_t mainWin = 0);
  int ExecuteAnsi(std::string& remoteName, const char* verb, uintptr_t mainWin = 0);
  int GetFile(const std::string& remoteName, const std::string& localName, int copyFlags);
  std::string RootName(int maxlen);
  std::string DetectString(int maxlen);

  // Windows: the hidden "TTOTAL_CMD" window (created at construction) and its refresh posts.
  uintptr_t TcWindow() const { return FTcWindow; }
  int RefreshPosts() const;
  // Runs this thread's message loop for ms milliseconds (timer ticks fire here).
  void Pump(uint32_t ms);

  // Called by the recording callbacks.
  bool OnRequest(const TRequestSeen& seen, std::string& answer);
  void OnMessage(const TMessageSeen& seen) { Messages.push_back(seen); }

 private:
  struct TAnswer {
    bool Ok;
    std::string Text;
  };
  plat::TDynLib FLib = nullptr;
  std::string FPluginPath;
  TWfxExports FX;
  std::deque<TAnswer> FAnswers;
  uintptr_t FTcWindow = 0;
};

// The settings file as text (the profile functions may keep it as UTF-16 with a byte order mark), and
// whether it holds exactly this line.
std::string IniText(const std::string& path);
bool IniHasLine(const std::string& path, const std::string& line);

// The engine program a user puts beside this build's plug-in: "talvoran_engine" on Linux; on Windows
// the name the plug-in picks (a 32-bit plug-in runs in a 32-bit prefix here).
std::string EngineProgramName();

// Text conversions of the host's strings.
std::u16string HostPath(const std::string& virtualPath);  // "\" -> "/" on Linux
std::string FromHost16(const TWfxChar* text);

}  // namespace hosttest
