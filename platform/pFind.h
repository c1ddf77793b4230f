#pragma once
// Finding files by a folder and a mask, with the size and last-write time of each, as the plug-in's
// listings need them; and the file-time conversions that turn those times into the run-time's local
// date-time values and back.
//
// The mask holds "*" (any run) and "?" (one character) and is compared without regard to ASCII case,
// as the Windows find functions do; the Linux backend follows those rules with a matcher of its own.
// Entries come in the order the system returns them; "." and ".." are left out. File times are
// FILETIME values: 100-ns steps since 1601-01-01 UTC, as one 64-bit number. Paths are UTF-8.
#include <cstdint>
#include <string>
#include <vector>

#include "pSystem.h"

namespace plat {

struct TFoundEntry {
  std::string Name;  // the name alone
  bool IsDirectory = false;
  int64_t Size = 0;           // bytes (0 for folders)
  uint64_t LastWriteUtc = 0;  // FILETIME of the last write
};

// Every entry of folder that matches mask. False when the folder cannot be read or nothing matches
// (entries is then empty). folder may end in a separator or not.
bool FindEntries(const std::string& folder, const std::string& mask, std::vector<TFoundEntry>& entries);

// Opens path for writing, creating it when missing and keeping its content (OPEN_ALWAYS), then closes
// it. False when the file cannot be opened that way (a folder that is not writable, for one).
bool TouchFile(const std::string& path);

// The calendar parts of a date-time value (the inverse of DateTimeOf), milliseconds rounded.
TLocalTime DateTimeParts(double dateTime);
// The mask rules of FindEntries: "*" any run, "?" one character, ASCII case ignored.
bool MatchesMask(const std::string& name, const std::string& mask);

// The local date-time value (days since 1899-12-30, time of day as the fraction) of a UTC FILETIME;
// false when the system cannot convert it.
bool FileTimeToLocalDateTime(uint64_t fileTimeUtc, double& dateTime);
// The UTC FILETIME of a local date-time value; false when it cannot be converted.
bool LocalDateTimeToFileTime(double dateTime, uint64_t& fileTimeUtc);

}  // namespace plat
