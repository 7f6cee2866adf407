#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// A small INI file layer, one key per call, the way the settings file has always been read and
// written: lines "key=value" under "[section]" headers, names compared without regard to ASCII
// case, whitespace around names and values ignored, a value's enclosing pair of quotes dropped.
// Lines that are neither header nor key (comments, garbage, bytes of a binary file) are absent to
// the reader and kept byte for byte by the writer.
namespace ravdel {

// The reader's buffer: at most this minus one characters come back.
inline constexpr std::size_t kIniBufferSize = 2048;

// The value of `key` in the first section named `section`, or nothing when either is absent.
std::optional<std::string> findIniValue(std::string_view text, std::string_view section,
                                        std::string_view key);

// `text` with `key` of `section` set to `value`: the key's first line replaced in place, else a
// line added after the section's last non-blank line, else the section added at the end. Every
// other byte is kept. New lines end the way the text's first line does (CRLF or LF).
// `section`, `key` and `value` must be storable (see writeIniValue).
std::string withIniValue(std::string_view text, std::string_view section, std::string_view key,
                         std::string_view value);

// Lines that no reader takes: neither a section header, a key within a section, a comment (";"
// or "#" first) nor blank. Binary data shows up here.
std::size_t iniLinesNotSettings(std::string_view text);

// Whether writeIniValue can store the entry (see there).
bool storableIniEntry(std::string_view section, std::string_view key, std::string_view value);

// readIniValue and writeIniValue as the functions above do them, straight on the file's bytes:
// where the platform has no INI routines, and on Windows for a path its routines cannot reach
// (longer than MAX_PATH).
std::string readIniValueDirect(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view defaultValue,
                               std::size_t bufferSize);
bool writeIniValueDirect(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view value);

// readIniValue and writeIniValue go to the file through the platform's INI routines where it has
// them (Windows' private-profile functions) and through the functions above elsewhere; both
// read the same values from the same file.

// One key from the file at `path`, or `defaultValue` when the file, the section or the key is
// missing or the file cannot be read; cut to bufferSize - 1 characters.
std::string readIniValue(const std::string& path, std::string_view section, std::string_view key,
                         std::string_view defaultValue, std::size_t bufferSize = kIniBufferSize);

// Sets one key in the file at `path` at once, creating the file (not its folder) and the section
// when missing. False, with the file unchanged, when the file cannot be read or replaced, or when
// a name or the value cannot be stored: line breaks or NUL in any of them, an empty name, "]" in
// the section, "=" in the key or a key starting with "[".
bool writeIniValue(const std::string& path, std::string_view section, std::string_view key,
                   std::string_view value);

}  // namespace ravdel
