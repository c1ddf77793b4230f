#include <windows.h>

#include "pProcess.h"
#include "pSystem.h"
#include "wText.h"

namespace plat {
namespace {

std::wstring BuildEnvironment(const std::vector<std::pair<std::string, std::string>>& extra) {
  std::wstring block;
  wchar_t* env = GetEnvironmentStringsW();
  for (const wchar_t* p = env; *p; p += wcslen(p) + 1) {
    std::wstring entry = p;
    bool replaced = false;
    for (const auto& [k, v] : extra) {
      std::wstring key = ToWide(k) + L"=";
      if (_wcsnicmp(entry.c_str(), key.c_str(), key.size()) == 0) replaced = true;
    }
    if (!replaced) block += entry + L'\0';
  }
  FreeEnvironmentStringsW(env);
  for (const auto& [k, v] : extra) block += ToWide(k) + L"=" + ToWide(v) + L'\0';
  block += L'\0';
  return block;
}
}  // namespace

TProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::pair<std::string, std::string>>& extraEnv,
                          uint32_t timeoutMs, const std::string& workDir) {
  TProcessResult result;
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &sa, 0)) {
    result.Error = "cannot create pipe";
    return result;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  std::wstring cmd = QuoteCommandArg(ToWide(program));
  for (const auto& a : args) cmd += L" " + QuoteCommandArg(ToWide(a));
  std::wstring env = BuildEnvironment(extraEnv);
  std::wstring dir = ToWide(workDir);

  STARTUPINFOW si{};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  si.hStdOutput = writeEnd;
  si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_UNICODE_ENVIRONMENT,
                           env.data(), dir.empty() ? nullptr : dir.c_str(), &si, &pi);
  CloseHandle(writeEnd);
  if (!ok) {
    result.Error = "cannot run " + program;
    CloseHandle(readEnd);
    return result;
  }
  result.Started = true;
  uint64_t deadline = TickMs() + timeoutMs;
  char buf[4096];
  for (;;) {
    DWORD avail = 0;
    if (!PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr)) break;  // writer gone
    if (avail > 0) {
      DWORD n = 0;
      if (!ReadFile(readEnd, buf, sizeof(buf), &n, nullptr) || n == 0) break;
      result.Output.append(buf, n);
      continue;
    }
    if (TickMs() >= deadline) {
      TerminateProcess(pi.hProcess, 259);
      result.TimedOut = true;
      break;
    }
    if (WaitForSingleObject(pi.hProcess, 10) == WAIT_OBJECT_0) {
      // Drain what is left; the pipe breaks once every writer has gone.
      DWORD n = 0;
      while (PeekNamedPipe(readEnd, nullptr, 0, nullptr, &avail, nullptr) && avail > 0 &&
             ReadFile(readEnd, buf, sizeof(buf), &n, nullptr) && n > 0)
        result.Output.append(buf, n);
      break;
    }
  }
  WaitForSingleObject(pi.hProcess, 5000);
  DWORD code = 0;
  GetExitCodeProcess(pi.hProcess, &code);
  result.ExitCode = static_cast<int>(code);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  CloseHandle(readEnd);
  return result;
}

}  // namespace plat
