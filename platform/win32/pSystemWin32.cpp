#include <windows.h>

#include "pSystem.h"
#include "wText.h"

namespace plat {

char PathSeparator() {
  return '\\';
}

std::string UserDecimalSeparator() {
  wchar_t buf[8] = {};
  const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, buf, 8);
  if (n <= 1) return ".";
  return FromWide(std::wstring(buf, static_cast<size_t>(n - 1)));
}

std::string PrivateFolder(std::string* error) {
  std::string temp = GetEnv("TEMP");
  if (temp.empty() && error) *error = "TEMP is not set";
  return temp;
}

std::string GetEnv(const std::string& name) {
  std::wstring wname = ToWide(name);
  DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring buf(n, L'\0');
  n = GetEnvironmentVariableW(wname.c_str(), buf.data(), n);
  buf.resize(n);
  return FromWide(buf);
}

bool HasEnv(const std::string& name) {
  std::wstring wname = ToWide(name);
  SetLastError(0);
  DWORD n = GetEnvironmentVariableW(wname.c_str(), nullptr, 0);
  return n != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

void SetEnv(const std::string& name, const std::string& value) {
  SetEnvironmentVariableW(ToWide(name).c_str(), ToWide(value).c_str());
}

void UnsetEnv(const std::string& name) {
  SetEnvironmentVariableW(ToWide(name).c_str(), nullptr);
}

static std::string FolderOf(const std::wstring& path) {
  size_t sep = path.find_last_of(L"\\/");
  return sep == std::wstring::npos ? std::string() : FromWide(path.substr(0, sep + 1));
}

static std::wstring ModuleFileName(HMODULE module) {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(module, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return {};
    if (n < buf.size()) {
      buf.resize(n);
      return buf;
    }
    buf.resize(buf.size() * 2);
  }
}

std::string ProgramPath() {
  return FromWide(ModuleFileName(nullptr));
}

std::string ModuleDir() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleDir), &module))
    module = nullptr;
  return FolderOf(ModuleFileName(module));
}

uint32_t CurrentThreadId() {
  return GetCurrentThreadId();
}

uint32_t CurrentProcessId() {
  return GetCurrentProcessId();
}

TLocalTime LocalTimeNow() {
  SYSTEMTIME st;
  GetLocalTime(&st);
  return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

uint64_t TickMs() {
  return GetTickCount64();
}

void SleepMs(uint32_t ms) {
  Sleep(ms);
}

}  // namespace plat

#include <shellapi.h>

namespace plat {
std::vector<std::string> CommandLineArgs(int, char**) {
  std::vector<std::string> out;
  int n = 0;
  LPWSTR* wargv = CommandLineToArgvW(GetCommandLineW(), &n);
  for (int i = 0; i < n; ++i) out.push_back(FromWide(wargv[i]));
  LocalFree(wargv);
  return out;
}
}  // namespace plat
