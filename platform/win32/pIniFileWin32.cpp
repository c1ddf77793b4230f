// Private-profile files on Windows: the system's W functions.
#include <windows.h>

#include "pIniFile.h"
#include "pReadFile.h"
#include "wText.h"

namespace plat {

bool IniReadString(const std::string& path, const std::string& section, const std::string& key,
                   std::string& value) {
  value.clear();
  // A default no file can hold tells a missing key from an empty one.
  const wchar_t* missing = L"\x01\x02missing\x03";
  std::wstring wpath = ToWide(path), wsection = ToWide(section), wkey = ToWide(key);
  std::wstring buf(1024, L'\0');
  for (;;) {
    DWORD n = GetPrivateProfileStringW(wsection.c_str(), wkey.c_str(), missing, buf.data(),
                                       static_cast<DWORD>(buf.size()), wpath.c_str());
    if (n + 2 < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.assign(buf.size() * 2, L'\0');
  }
  if (buf == missing) return false;
  value = FromWide(buf);
  return true;
}

namespace {

// A file the system function must not be handed: a read-only one, which it rewrites when the process
// may write all the same (Wine's does as root), and one in an encoding it would read as 8-bit text and
// write back so. A file that is not there, or cannot be opened here, is the function's to judge.
bool LeaveAlone(const std::string& path, const std::wstring& wpath) {
  const DWORD attributes = GetFileAttributesW(wpath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  if (attributes & FILE_ATTRIBUTE_READONLY) return true;
  TReadFile file;
  const int64_t size = file.Open(path) ? file.Size() : -1;
  if (size < 0) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  bytes.resize(file.ReadAt(0, bytes.data(), bytes.size()));
  return !IniEncodingKept(bytes);
}

}  // namespace

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  const std::wstring wpath = ToWide(path);
  if (LeaveAlone(path, wpath)) return false;
  return WritePrivateProfileStringW(ToWide(section).c_str(), ToWide(key).c_str(), ToWide(value).c_str(),
                                    wpath.c_str()) != 0;
}

bool IniCreateUnicode(const std::string& path) {
  HANDLE h = CreateFileW(ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(h, &size) != 0;
  if (ok && size.QuadPart == 0) {
    const unsigned char bom[2] = {0xFF, 0xFE};
    DWORD done = 0;
    ok = WriteFile(h, bom, 2, &done, nullptr) && done == 2;
  }
  CloseHandle(h);
  return ok;
}

}  // namespace plat
