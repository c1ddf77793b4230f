#include "TestHost.h"

#include <cstring>

#include "TestSupport.h"
#include "pSystem.h"
#include "pText.h"
#include "pWindow.h"

namespace hosttest {

const char* const kExportNames[31] = {"FsInitW",
                                      "FsInit",
                                      "FsFindFirstW",
                                      "FsFindFirst",
                                      "FsFindNextW",
                                      "FsFindNext",
                                      "FsFindClose",
                                      "FsExecuteFileW",
                                      "FsExecuteFile",
                                      "FsGetFileW",
                                      "FsGetFile",
                                      "FsDeleteFileW",
                                      "FsDeleteFile",
                                      "FsRemoveDirW",
                                      "FsRemoveDir",
                                      "FsExtractCustomIconW",
                                      "FsExtractCustomIcon",
                                      "FsGetPreviewBitmapW",
                                      "FsGetPreviewBitmap",
                                      "FsStatusInfoW",
                                      "FsStatusInfo",
                                      "FsDisconnectW",
                                      "FsDisconnect",
                                      "FsGetDefRootName",
                                      "FsSetDefaultParams",
                                      "ListLoadW",
                                      "ListLoad",
                                      "ListCloseWindow",
                                      "ListGetDetectString",
                                      "ListGetPreviewBitmapW",
                                      "ListGetPreviewBitmap"};

namespace {

TTestHost* gHost = nullptr;

std::string Utf8Of(const char16_t* s) {
  return s == nullptr ? std::string() : plat::Utf16ToUtf8(s);
}

int WFX_CALL RecordProgressW(int, const TWfxChar* source, const TWfxChar* target, int percent) {
  if (gHost == nullptr) return 0;
  gHost->Progress.push_back({FromHost16(source), FromHost16(target), percent});
  return gHost->ProgressAnswer;
}

void WFX_CALL RecordLogW(int, int, const TWfxChar*) {
  if (gHost != nullptr) ++gHost->LogCalls;
}

TWfxBool WFX_CALL RecordRequestW(int pluginNr, int type, const TWfxChar* title, const TWfxChar* text,
                                 TWfxChar* returned, int maxlen) {
  if (gHost == nullptr) return 0;
  TRequestSeen seen;
  seen.PluginNr = pluginNr;
  seen.Type = type;
  seen.Title = FromHost16(title);
  seen.Text = FromHost16(text);
  seen.Offered = FromHost16(returned);
  seen.MaxLen = maxlen;
  if (type == kWfxRtMsgOk) {  // a Linux host's message
    gHost->OnMessage({seen.Text, seen.Title, -1});
    return 1;
  }
  std::string answer;
  if (!gHost->OnRequest(seen, answer)) return 0;
  const std::u16string wide = plat::Utf8ToUtf16(answer);
  size_t n = 0;
  for (; n < wide.size() && n < static_cast<size_t>(maxlen); ++n)
    returned[n] = static_cast<TWfxChar>(wide[n]);
  returned[n] = 0;
  return 1;
}

int WFX_CALL IgnoreProgressA(int, const char*, const char*, int) {
  return 0;
}
void WFX_CALL IgnoreLogA(int, int, const char*) {}
TWfxBool WFX_CALL IgnoreRequestA(int, int, const char*, const char*, char*, int) {
  return 0;
}

#ifdef _WIN32
// The plug-in's message boxes come here instead of the screen: its import of MessageBoxW is redirected.
int WINAPI CaptureMessageBoxW(HWND, LPCWSTR text, LPCWSTR caption, UINT style) {
  if (gHost != nullptr)
    gHost->OnMessage({plat::Utf16ToUtf8(reinterpret_cast<const char16_t*>(text)),
                      plat::Utf16ToUtf8(reinterpret_cast<const char16_t*>(caption)),
                      static_cast<int64_t>(style)});
  return IDOK;
}

// Points the module's import of user32!MessageBoxW at the capture; false when it has none.
bool RedirectMessageBox(HMODULE module) {
  auto* base = reinterpret_cast<BYTE*>(module);
  auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return false;
  bool done = false;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); imp->Name != 0;
       ++imp) {
    if (_stricmp(reinterpret_cast<char*>(base + imp->Name), "user32.dll") != 0) continue;
    auto* thunk = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(
        base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
    for (; thunk->u1.Function != 0; ++thunk, ++names) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<char*>(byName->Name), "MessageBoxW") != 0) continue;
      DWORD old = 0;
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, PAGE_READWRITE, &old);
      thunk->u1.Function = reinterpret_cast<ULONG_PTR>(&CaptureMessageBoxW);
      VirtualProtect(&thunk->u1.Function, sizeof thunk->u1.Function, old, &old);
      done = true;
    }
  }
  return done;
}
#endif

template <typename TFn>
void Bind(plat::TDynLib lib, const char* name, TFn& fn) {
  plat::BindDynLib(lib, name, fn);
}

std::string NameOf(const TWfxFindDataW& fd) {
  return FromHost16(fd.cFileName);
}
std::string NameOf(const TWfxFindDataA& fd) {
  return plat::AnsiToUtf8(fd.cFileName);
}

template <typename TFindData>
void FromFindData(const TFindData& fd, TListedEntry& e) {
  e.Name = NameOf(fd);
  e.Attributes = fd.dwFileAttributes;
  e.Size = (uint64_t(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
  e.WriteTime = (uint64_t(fd.ftLastWriteTime.dwHighDateTime) << 32) | fd.ftLastWriteTime.dwLowDateTime;
  e.TimesEqual = std::memcmp(&fd.ftCreationTime, &fd.ftLastWriteTime, sizeof fd.ftCreationTime) == 0 &&
                 std::memcmp(&fd.ftLastAccessTime, &fd.ftLastWriteTime, sizeof fd.ftCreationTime) == 0;
}

uint32_t ThreadError() {
#ifdef _WIN32
  return GetLastError();
#else
  return static_cast<uint32_t>(errno);
#endif
}

}  // namespace

std::string EngineProgramName() {
  if (plat::PathSeparator() == '/') return "talvoran_engine";
  return sizeof(void*) == 8 ? "talvoran_engine64.exe" : "talvoran_engine32.exe";
}

std::u16string HostPath(const std::string& virtualPath) {
  std::string p = virtualPath;
#ifndef _WIN32
  for (char& c : p)
    if (c == '\\') c = '/';
#endif
  return plat::Utf8ToUtf16(p);
}

std::string FromHost16(const TWfxChar* text) {
  return Utf8Of(reinterpret_cast<const char16_t*>(text));
}

std::string IniText(const std::string& path) {
  const std::string bytes = testsupport::ReadWholeFile(path);
  if (bytes.size() < 2 || uint8_t(bytes[0]) != 0xFF || uint8_t(bytes[1]) != 0xFE) return bytes;
  std::u16string wide;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    wide.push_back(char16_t(uint8_t(bytes[i]) | uint8_t(bytes[i + 1]) << 8));
  return plat::Utf16ToUtf8(wide);
}

bool IniHasLine(const std::string& path, const std::string& line) {
  for (const std::string& l : testsupport::SplitLines(IniText(path)))
    if (l == line) return true;
  return false;
}

std::vector<std::string> TListing::Names() const {
  std::vector<std::string> names;
  for (const TListedEntry& e : Entries) names.push_back(e.Name);
  return names;
}

TTestHost::TTestHost() {
  gHost = this;
#ifdef _WIN32
  FTcWindow = plat::CreateHiddenWindow("TTOTAL_CMD");
#endif
}

TTestHost::~TTestHost() {
  Unload();
#ifdef _WIN32
  if (FTcWindow != 0) plat::DestroyHiddenWindow(FTcWindow);
#endif
  if (gHost == this) gHost = nullptr;
}

std::string TTestHost::BuiltPlugin() {
  return plat::ModuleDir() + TALV_PLUGIN_FILE;
}

bool TTestHost::Load(const std::string& folder, std::string& error) {
  Unload();
  const std::string bytes = testsupport::ReadWholeFile(BuiltPlugin());
  if (bytes.empty()) {
    error = "cannot read " + BuiltPlugin();
    return false;
  }
  FPluginPath = folder + plat::PathSeparator() + TALV_PLUGIN_FILE;
  if (!testsupport::WriteWholeFile(FPluginPath, bytes)) {
    error = "cannot write " + FPluginPath;
    return false;
  }
  return LoadInPlace(FPluginPath, error);
}

bool TTestHost::LoadInPlace(const std::string& pluginPath, std::string& error) {
  Unload();
  FPluginPath = pluginPath;
  FLib = plat::LoadDynLib(FPluginPath);
  if (FLib == nullptr) {
    error = "cannot load " + FPluginPath;
    return false;
  }
#ifdef _WIN32
  RedirectMessageBox(reinterpret_cast<HMODULE>(FLib));
#endif
  TWfxExports& x = FX;
  Bind(FLib, "FsInitW", x.FsInitW);
  Bind(FLib, "FsInit", x.FsInit);
  Bind(FLib, "FsFindFirstW", x.FsFindFirstW);
  Bind(FLib, "FsFindFirst", x.FsFindFirst);
  Bind(FLib, "FsFindNextW", x.FsFindNextW);
  Bind(FLib, "FsFindNext", x.FsFindNext);
  Bind(FLib, "FsFindClose", x.FsFindClose);
  Bind(FLib, "FsExecuteFileW", x.FsExecuteFileW);
  Bind(FLib, "FsExecuteFile", x.FsExecuteFile);
  Bind(FLib, "FsGetFileW", x.FsGetFileW);
  Bind(FLib, "FsGetFile", x.FsGetFile);
  Bind(FLib, "FsDeleteFileW", x.FsDeleteFileW);
  Bind(FLib, "FsDeleteFile", x.FsDeleteFile);
  Bind(FLib, "FsRemoveDirW", x.FsRemoveDirW);
  Bind(FLib, "FsRemoveDir", x.FsRemoveDir);
  Bind(FLib, "FsExtractCustomIconW", x.FsExtractCustomIconW);
  Bind(FLib, "FsExtractCustomIcon", x.FsExtractCustomIcon);
  Bind(FLib, "FsGetPreviewBitmapW", x.FsGetPreviewBitmapW);
  Bind(FLib, "FsGetPreviewBitmap", x.FsGetPreviewBitmap);
  Bind(FLib, "FsStatusInfoW", x.FsStatusInfoW);
  Bind(FLib, "FsStatusInfo", x.FsStatusInfo);
  Bind(FLib, "FsDisconnectW", x.FsDisconnectW);
  Bind(FLib, "FsDisconnect", x.FsDisconnect);
  Bind(FLib, "FsGetDefRootName", x.FsGetDefRootName);
  Bind(FLib, "FsSetDefaultParams", x.FsSetDefaultParams);
  Bind(FLib, "ListLoadW", x.ListLoadW);
  Bind(FLib, "ListLoad", x.ListLoad);
  Bind(FLib, "ListCloseWindow", x.ListCloseWindow);
  Bind(FLib, "ListGetDetectString", x.ListGetDetectString);
  Bind(FLib, "ListGetPreviewBitmapW", x.ListGetPreviewBitmapW);
  Bind(FLib, "ListGetPreviewBitmap", x.ListGetPreviewBitmap);
  return true;
}

void TTestHost::Unload() {
  if (FLib == nullptr) return;
  plat::FreeDynLib(FLib);
  FLib = nullptr;
  FX = TWfxExports();
}

std::vector<std::string> TTestHost::MissingExports() const {
  std::vector<std::string> missing;
  for (const char* name : kExportNames)
    if (plat::DynLibSymbol(FLib, name) == nullptr) missing.push_back(name);
  return missing;
}

int TTestHost::InitW(int pluginNr) {
  return FX.FsInitW(pluginNr, &RecordProgressW, &RecordLogW, &RecordRequestW);
}

int TTestHost::InitA(int pluginNr) {
  return FX.FsInit(pluginNr, &IgnoreProgressA, &IgnoreLogA, &IgnoreRequestA);
}

void TTestHost::ClearSeen() {
  Requests.clear();
  Messages.clear();
  Progress.clear();
  LogCalls = 0;
}

bool TTestHost::OnRequest(const TRequestSeen& seen, std::string& answer) {
  Requests.push_back(seen);
  if (FAnswers.empty()) return false;
  const TAnswer a = FAnswers.front();
  FAnswers.pop_front();
  answer = a.Text;
  return a.Ok;
}

namespace {

// One whole listing: the first entry, every next one, the close. The records are filled with a
// pattern before each call, so an entry copied only in part shows.
template <typename TFindData, typename TPath, typename TFirst, typename TNext>
TListing ListWith(TPath* path, TFirst first, TNext next, int(WFX_CALL* close)(TWfxHandle)) {
  TListing listing;
  TFindData fd;
  std::memset(&fd, 0xCC, sizeof fd);
  TWfxHandle h = first(path, &fd);
  if (h == WfxInvalidHandle()) {
    listing.LastError = ThreadError();
    return listing;
  }
  listing.Ok = true;
  do {
    TListedEntry e;
    FromFindData(fd, e);
    listing.Entries.push_back(e);
    std::memset(&fd, 0xCC, sizeof fd);
  } while (next(h, &fd));
  close(h);
  return listing;
}

}  // namespace

TListing TTestHost::List(const std::string& path) {
  std::u16string p = HostPath(path);
  return ListWith<TWfxFindDataW>(reinterpret_cast<TWfxChar*>(p.data()), FX.FsFindFirstW, FX.FsFindNextW,
                                 FX.FsFindClose);
}

TListing TTestHost::ListAnsi(const std::string& path) {
  std::string p = plat::Utf8ToAnsi(path);
#ifndef _WIN32
  for (char& c : p)
    if (c == '\\') c = '/';
#endif
  return ListWith<TWfxFindDataA>(p.data(), FX.FsFindFirst, FX.FsFindNext, FX.FsFindClose);
}

int TTestHost::Execute(std::string& remoteName, const char* verb, uintptr_t mainWin) {
  TWfxChar buffer[kWfxMaxPath] = {};
  const std::u16string p = HostPath(remoteName);
  for (size_t i = 0; i < p.size() && i + 1 < kWfxMaxPath; ++i) buffer[i] = static_cast<TWfxChar>(p[i]);
  std::u16string v = verb ? plat::Utf8ToUtf16(verb) : std::u16string();
  const int result = FX.FsExecuteFileW(reinterpret_cast<TWfxWindow>(mainWin), buffer,
                                       verb ? reinterpret_cast<TWfxChar*>(v.data()) : nullptr);
  remoteName = FromHost16(buffer);
#ifndef _WIN32
  for (char& c : remoteName)
    if (c == '/') c = '\\';
#endif
  return result;
}

int TTestHost::ExecuteAnsi(std::string& remoteName, const char* verb, uintptr_t mainWin) {
  char buffer[kWfxMaxPath] = {};
  std::string p = plat::Utf8ToAnsi(remoteName);
#ifndef _WIN32
  for (char& c : p)
    if (c == '\\') c = '/';
#endif
  std::strncpy(buffer, p.c_str(), kWfxMaxPath - 1);
  std::string v = verb ? verb : "";
  const int result =
      FX.FsExecuteFile(reinterpret_cast<TWfxWindow>(mainWin), buffer, verb ? v.data() : nullptr);
  remoteName = plat::AnsiToUtf8(buffer);
#ifndef _WIN32
  for (char& c : remoteName)
    if (c == '/') c = '\\';
#endif
  return result;
}

int TTestHost::GetFile(const std::string& remoteName, const std::string& localName, int copyFlags) {
  std::u16string r = HostPath(remoteName), l = plat::Utf8ToUtf16(localName);
  return FX.FsGetFileW(reinterpret_cast<TWfxChar*>(r.data()), reinterpret_cast<TWfxChar*>(l.data()),
                       copyFlags, nullptr);
}

std::string TTestHost::RootName(int maxlen) {
  std::vector<char> buffer(static_cast<size_t>(maxlen > 0 ? maxlen : 1) + 8, 'X');
  FX.FsGetDefRootName(buffer.data(), maxlen);
  return maxlen > 0 ? std::string(buffer.data()) : std::string(buffer.data(), buffer.size());
}

std::string TTestHost::DetectString(int maxlen) {
  std::vector<char> buffer(static_cast<size_t>(maxlen > 0 ? maxlen : 1) + 8, 'X');
  FX.ListGetDetectString(buffer.data(), maxlen);
  return maxlen > 0 ? std::string(buffer.data()) : std::string(buffer.data(), buffer.size());
}

int TTestHost::RefreshPosts() const {
  return FTcWindow ? plat::HiddenWindowPosts(FTcWindow, 1075, 540) : 0;
}

void TTestHost::Pump(uint32_t ms) {
  plat::PumpThreadMessages(ms);
}

}  // namespace hosttest
