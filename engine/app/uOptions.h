#pragma once
// The engine program's command-line options and the number texts given in them.
//
// Options are not stored as parsed values: every query walks parameters 1..n again (parameter 0 is
// the program), so several modes may read the same option with the same result. A flag is
// "--name" or "-name" in any case; a value needs "--name=" (key in any case, value kept exactly as
// typed) and the first such parameter wins; "--name=" with nothing after it counts as absent.
// Unknown parameters are ignored, never rejected. Numbers are read with "." or "," whatever the
// locale (std::from_chars through the settings unit's helpers), never through printf/strtod.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Over an explicit argument vector (args[0] is the program).
bool HasOption(const std::vector<std::string>& args, std::string_view name);
std::string GetOption(const std::vector<std::string>& args, std::string_view name, std::string_view dflt);

// Over the program's own arguments, as EngineMain stored them with SetProgramArgs; the modes use these.
void SetProgramArgs(const std::vector<std::string>& args);
const std::vector<std::string>& ProgramArgs();
bool HasOption(std::string_view name);
std::string GetOption(std::string_view name, std::string_view dflt);

// Hz with an optional k/M/G multiplier (either case), "." or "," decimals, rounded halves-to-even:
// 144M -> 144000000, 12,5k -> 12500. dflt for an empty text, no number, or a value beyond Int64.
int64_t ParseFreq(std::string_view text, int64_t dflt);
// A decimal number with "." or ","; no multiplier. dflt for an empty text or no number.
double ParseFloat(std::string_view text, double dflt);
// A 32-bit decimal integer; dflt for an empty text, no number, or a value beyond 32 bits.
int32_t ParseInt(std::string_view text, int32_t dflt);
