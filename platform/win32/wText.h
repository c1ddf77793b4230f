#pragma once
// UTF-8 <-> UTF-16 at the Windows API boundary (the W functions).
#include <string>

namespace plat {
std::wstring ToWide(const std::string& utf8);
std::string FromWide(const std::wstring& wide);
std::string FromWide(const wchar_t* wide);
// Quotes one argument so that the C run-time's parser of the child gives it back unchanged.
std::wstring QuoteCommandArg(const std::wstring& arg);
}  // namespace plat
