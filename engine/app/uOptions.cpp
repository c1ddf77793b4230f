#include "uOptions.h"

#include <limits>

#include "uTalvConfig.h"

bool HasOption(const std::vector<std::string>& args, std::string_view name) {
  const std::string lname = AsciiLower(name);
  const std::string longForm = "--" + lname, shortForm = "-" + lname;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string p = AsciiLower(args[i]);
    if (p == longForm || p == shortForm) return true;
  }
  return false;
}

std::string GetOption(const std::vector<std::string>& args, std::string_view name, std::string_view dflt) {
  const std::string key = "--" + AsciiLower(name) + "=";
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& p = args[i];
    if (p.size() > key.size() && AsciiLower(std::string_view(p).substr(0, key.size())) == key)
      return p.substr(key.size());
  }
  return std::string(dflt);
}

namespace {
std::vector<std::string> gProgramArgs;
}  // namespace

void SetProgramArgs(const std::vector<std::string>& args) {
  gProgramArgs = args;
}
const std::vector<std::string>& ProgramArgs() {
  return gProgramArgs;
}
bool HasOption(std::string_view name) {
  return HasOption(gProgramArgs, name);
}
std::string GetOption(std::string_view name, std::string_view dflt) {
  return GetOption(gProgramArgs, name, dflt);
}

namespace {

// Trimmed, "," read as "."; false when it is no number.
bool ReadNumber(std::string_view text, double& v) {
  std::string s(text);
  for (char& c : s)
    if (c == ',') c = '.';
  return ParsePoint(s, v);
}

}  // namespace

int64_t ParseFreq(std::string_view text, int64_t dflt) {
  std::string_view t = TrimText(text);
  if (t.empty()) return dflt;
  double mult = 1.0;
  switch (t.back()) {
    case 'k':
    case 'K':
      mult = 1e3;
      break;
    case 'm':
    case 'M':
      mult = 1e6;
      break;
    case 'g':
    case 'G':
      mult = 1e9;
      break;
    default:
      break;
  }
  if (mult != 1.0) t.remove_suffix(1);
  double v = 0;
  if (!ReadNumber(t, v)) return dflt;
  const double hz = v * mult;
  // Beyond the Int64 range there is no frequency to give: the default, not a clamped number.
  constexpr double kLimit = 9223372036854775808.0;
  if (!(hz > -kLimit && hz < kLimit)) return dflt;
  return RoundHalfEven(hz);
}

double ParseFloat(std::string_view text, double dflt) {
  std::string_view t = TrimText(text);
  double v = 0;
  if (t.empty() || !ReadNumber(t, v)) return dflt;
  return v;
}

int32_t ParseInt(std::string_view text, int32_t dflt) {
  int64_t v = 0;
  if (!ParseInt64(TrimText(text), v)) return dflt;
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return dflt;
  return static_cast<int32_t>(v);
}
