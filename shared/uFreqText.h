#pragma once
// FormatMHz: the one frequency text of logs, console lines and channel folder names, "145.012500 MHz"
// (whole megahertz, a point, six digits of hertz, " MHz"). Engine and plug-in both link it, so a
// channel folder the engine creates has the same name the plug-in lists. Pure and reentrant; no
// locale: the digits are written by hand, never by printf.
#include <cstdint>
#include <string>

// "%d.%.6d MHz" of |hz| div 1000000 and |hz| mod 1000000, "-" in front for a negative value
// (-2048000 gives "-2.048000 MHz"; the most negative Int64 is handled too).
std::string FormatMHz(int64_t hz);
