// Detached start and the user-wide mutex on Windows.
#include <windows.h>

#include "pLaunch.h"
#include "wText.h"

namespace plat {

bool StartDetachedProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::string& workDir, uint32_t* errorCode) {
  // The program path always in double quotes (a path cannot hold one), then the arguments.
  std::wstring cmd = L"\"" + ToWide(program) + L"\"";
  for (const std::string& a : args) cmd += L" " + QuoteCommandArg(ToWide(a));
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESHOWWINDOW;
  si.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION pi{};
  std::wstring dir = ToWide(workDir);
  BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                           dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  if (!ok) {
    if (errorCode) *errorCode = GetLastError();
    return false;
  }
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  if (errorCode) *errorCode = 0;
  return true;
}

bool RunningUnderWow64() {
  if (Is64BitBuild()) return false;
  BOOL wow = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow) && wow;
}

struct TProcessMutex::TImpl {
  HANDLE Handle = nullptr;
  bool Held = false;
};

TProcessMutex::TProcessMutex(const std::string& name) : FImpl(new TImpl) {
  FImpl->Handle = CreateMutexW(nullptr, FALSE, ToWide(name).c_str());
}

TProcessMutex::~TProcessMutex() {
  Unlock();
  if (FImpl->Handle) CloseHandle(FImpl->Handle);
}

bool TProcessMutex::Lock(uint32_t timeoutMs) {
  if (!FImpl->Handle || FImpl->Held) return false;
  DWORD r = WaitForSingleObject(FImpl->Handle, timeoutMs);
  FImpl->Held = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;  // abandoned: its owner died holding it
  return FImpl->Held;
}

void TProcessMutex::Unlock() {
  if (!FImpl->Held) return;
  ReleaseMutex(FImpl->Handle);
  FImpl->Held = false;
}

}  // namespace plat

namespace plat {

TStartState ThisProcessStartState() {
  TStartState s;
  STARTUPINFOW si{};
  si.cb = sizeof(si);
  GetStartupInfoW(&si);
  s.Hidden = (si.dwFlags & STARTF_USESHOWWINDOW) != 0 && si.wShowWindow == SW_HIDE;
  s.HasConsoleWindow = GetConsoleWindow() != nullptr;
  return s;
}

std::string CurrentFolder() {
  DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = GetCurrentDirectoryW(n, buf.data());
  buf.resize(n);
  return FromWide(buf);
}

std::string RawCommandLine() {
  return FromWide(GetCommandLineW());
}

}  // namespace plat
