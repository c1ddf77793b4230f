#include "pIniFile.h"

// The encoding rule that both profile backends follow.

namespace plat {

bool IniEncodingKept(std::string_view bytes) {
  const std::string_view mark = bytes.substr(0, 2);
  if (mark == "\xFF\xFE") return true;
  if (mark == "\xFE\xFF") return false;
  return bytes.find('\0') == std::string_view::npos;
}

}  // namespace plat
