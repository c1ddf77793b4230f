#pragma once
// Private-profile (.ini) files: one value per key in named sections, read and written by path.
//
// Windows: the system's private-profile W functions. Linux: a reader and writer of ours with the same
// semantics: section and key names compared without regard to ASCII case, values trimmed of blanks,
// one pair of surrounding double quotes (or single quotes) stripped on read, a write replacing the
// first line of the key in its section or appending it (and the section) when absent, every other line
// kept as it was. Both backends keep the file's encoding: a file that begins with the UTF-16LE byte
// order mark is read and written as UTF-16LE, any other as 8-bit text (ANSI on Windows, UTF-8 on
// Linux). IniCreateUnicode makes an empty file with that mark, so every later value, whatever its
// script, survives. A write never touches a file in another encoding (UTF-16 without the mark,
// big-endian UTF-16), where it would put 8-bit lines into 16-bit text and which reads as if it were
// empty, nor a read-only file (one whose mode grants no write, which holds for root too, or that the
// user may not write): it fails and the file stays as it was.
//
// Calls are independent (each opens, reads or rewrites and closes the file); two threads writing the
// same file at once may lose one write, as with the system functions. Paths and text are UTF-8.
#include <string>
#include <string_view>

namespace plat {

// The value of key in section; false when the file, the section or the key is missing (value empty).
bool IniReadString(const std::string& path, const std::string& section, const std::string& key,
                   std::string& value);
// Writes key=value into section; false when the file could not be written, or is read-only or in an
// encoding that a write would spoil (IniEncodingKept).
bool IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value);
// Creates path as an empty UTF-16LE file holding only the byte order mark, when it does not exist or is
// empty (an existing file with content is left alone). False when it cannot be created.
bool IniCreateUnicode(const std::string& path);

// The backends' one rule on encodings: true when a file of these bytes is in one they read and write
// back unchanged: an empty file, UTF-16LE behind its byte order mark, or 8-bit text, which holds no NUL
// byte (UTF-16 without the mark holds one in every ASCII character). Big-endian UTF-16 behind its mark
// is not one of them.
bool IniEncodingKept(std::string_view bytes);

}  // namespace plat
