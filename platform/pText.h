#pragma once
// Text conversions at the edges of the plug-in: UTF-16 (the host's W strings; char16_t, because
// wchar_t is 32-bit on Linux), the system's 8-bit ANSI code page (the host's A strings and the
// engine's reply lines), and the user locale's decimal and time separators (the few texts that a user
// reads in their own format). Inside, text is UTF-8 std::string.
//
// The ANSI code page is the system's (GetACP) on Windows; the Linux backend stands in with Windows-1252,
// the code page of most Western systems, so both builds convert the same bytes the same way. A
// character the code page cannot hold becomes "?" (one per UTF-16 unit; no look-alike is chosen, so a
// name never turns into another valid name); bytes that are not valid UTF-8 become U+FFFD. Nothing here keeps
// state except the tests' source of the separators, which any thread may read.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// The ANSI code page number (1252 on the Linux stand-in).
uint32_t AnsiCodePage();
std::string AnsiToUtf8(std::string_view ansi);
std::string Utf8ToAnsi(std::string_view utf8);

// The user locale's separators for the numbers and times a person reads: decimal
// (plat::UserDecimalSeparator) and time (":" mostly). Each reading asks the system's locale, which
// costs far more than formatting a number: a text with many numbers reads them once and formats
// every number with that reading (a locale changed meanwhile shows in the next text).
struct TLocaleSeparators {
  std::string Decimal;
  std::string Time;
};
TLocaleSeparators ReadLocaleSeparators();
// Tests: where ReadLocaleSeparators takes its answer from (nullptr: the system again).
using TLocaleSeparatorsSource = TLocaleSeparators (*)();
void SetLocaleSeparatorsSource(TLocaleSeparatorsSource source);

}  // namespace plat
