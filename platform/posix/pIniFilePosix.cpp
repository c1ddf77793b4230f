// Private-profile files on Linux: a reader and writer of ours with the Windows functions' rules.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <string_view>
#include <vector>

#include "pIniFile.h"
#include "pText.h"

namespace plat {
namespace {

std::atomic<unsigned> gTempCounter{0};

struct TIniText {
  bool Unicode = false;            // UTF-16LE with its byte order mark
  std::vector<std::string> Lines;  // UTF-8, line ends removed
};

bool ReadAll(const std::string& path, std::string& bytes) {
  FILE* f = ::fopen(path.c_str(), "rb");
  if (!f) return false;
  char buf[8192];
  size_t n;
  while ((n = ::fread(buf, 1, sizeof(buf), f)) > 0) bytes.append(buf, n);
  bool ok = !::ferror(f);
  ::fclose(f);
  return ok;
}

TIniText Decode(const std::string& bytes) {
  TIniText ini;
  std::string text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    ini.Unicode = true;
    std::u16string w;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      w += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                 (static_cast<unsigned char>(bytes[i + 1]) << 8));
    text = Utf16ToUtf8(w);
  } else {
    text = bytes;
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t lf = text.find('\n', start);
    std::string line = text.substr(start, lf == std::string::npos ? std::string::npos : lf - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ini.Lines.push_back(line);
    if (lf == std::string::npos) break;
    start = lf + 1;
  }
  return ini;
}

std::string Encode(const TIniText& ini) {
  std::string text;
  for (const std::string& line : ini.Lines) text += line + "\r\n";
  if (!ini.Unicode) return text;
  std::u16string w = Utf8ToUtf16(text);
  std::string bytes = "\xFF\xFE";
  for (char16_t c : w) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

std::string_view Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return s.substr(b, e - b);
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// The section name of a "[name]" line; false for any other line.
bool SectionOf(const std::string& line, std::string_view& name) {
  std::string_view t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return false;
  name = Trim(t.substr(1, close - 1));
  return true;
}

// The key and raw value of a "key=value" line; false without "=".
bool KeyOf(const std::string& line, std::string_view& key, std::string_view& value) {
  size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  std::string_view l(line);
  key = Trim(l.substr(0, eq));
  value = l.substr(eq + 1);
  return true;
}

// Line positions: the section's header (or -1) and the key's line (or -1), and the line after which a
// new key of the section goes (its last key line, or the header).
struct TPlace {
  long Section = -1;
  long Key = -1;
  long Last = -1;
};

TPlace Find(const TIniText& ini, const std::string& section, const std::string& key) {
  TPlace p;
  bool inside = false;
  for (size_t i = 0; i < ini.Lines.size(); ++i) {
    std::string_view name, k, v;
    if (SectionOf(ini.Lines[i], name)) {
      if (p.Section >= 0 && inside) inside = false;
      if (p.Section < 0 && SameName(name, section)) {
        p.Section = static_cast<long>(i);
        p.Last = p.Section;
        inside = true;
      }
      continue;
    }
    if (!inside) continue;
    if (!Trim(ini.Lines[i]).empty()) p.Last = static_cast<long>(i);
    if (p.Key < 0 && KeyOf(ini.Lines[i], k, v) && SameName(k, key)) p.Key = static_cast<long>(i);
  }
  return p;
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  FILE* f = ::fopen(path.c_str(), "wb");
  if (!f) return false;
  bool ok = ::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  if (::fclose(f) != 0) ok = false;
  return ok;
}

// Read-only for this writer: no write permission in the file's mode (which root would otherwise
// ignore), or none for this user. The rename below would replace such a file without asking.
bool ReadOnly(const std::string& path, const struct stat& st) {
  return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

// The new content goes to a file beside the old one, which it then replaces with the old one's
// permissions: a reader sees the old file or the new one, never half of one. A folder where no second
// file can be made gets the content written in place.
bool WriteAll(const std::string& path, const std::string& bytes) {
  struct stat st {};
  const bool exists = ::stat(path.c_str(), &st) == 0;
  if (exists && ReadOnly(path, st)) return false;
  std::string temp = path + ".tmp" + std::to_string(::getpid()) + "_" + std::to_string(++gTempCounter);
  if (WriteFile(temp, bytes)) {
    const bool keptMode = !exists || ::chmod(temp.c_str(), st.st_mode & 07777) == 0;
    if (keptMode && ::rename(temp.c_str(), path.c_str()) == 0) return true;
    ::unlink(temp.c_str());
  }
  return WriteFile(path, bytes);
}

}  // namespace

bool IniReadString(const std::string& path, const std::string& section, const std::string& key,
                   std::string& value) {
  value.clear();
  std::string bytes;
  if (!ReadAll(path, bytes)) return false;
  TIniText ini = Decode(bytes);
  TPlace p = Find(ini, section, key);
  if (p.Key < 0) return false;
  std::string_view k, v;
  KeyOf(ini.Lines[static_cast<size_t>(p.Key)], k, v);
  v = Trim(v);
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  value = std::string(v);
  return true;
}

bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  std::string bytes;
  if (!ReadAll(path, bytes)) {
    if (::access(path.c_str(), F_OK) == 0) return false;  // there, but its content could not be kept
    bytes.clear();
  }
  if (!IniEncodingKept(bytes)) return false;
  TIniText ini = Decode(bytes);
  while (!ini.Lines.empty() && ini.Lines.back().empty()) ini.Lines.pop_back();
  TPlace p = Find(ini, section, key);
  std::string line = key + "=" + value;
  if (p.Key >= 0) {
    ini.Lines[static_cast<size_t>(p.Key)] = line;
  } else if (p.Section >= 0) {
    ini.Lines.insert(ini.Lines.begin() + p.Last + 1, line);
  } else {
    ini.Lines.push_back("[" + section + "]");
    ini.Lines.push_back(line);
  }
  return WriteAll(path, Encode(ini));
}

bool IniCreateUnicode(const std::string& path) {
  std::string bytes;
  if (ReadAll(path, bytes) && !bytes.empty()) return true;
  return WriteAll(path, "\xFF\xFE");
}

}  // namespace plat
