#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The system's INI routines (Windows only; the POSIX build reads and writes INI files itself).
// Paths and text are UTF-8 here and UTF-16 to the system; the program's manifest makes UTF-8
// the code page of the file's bytes.
namespace ravdel {

// Whether the routines below can open the file: they take no path longer than MAX_PATH.
bool privateProfileReaches(const std::string& path);

// The value of `key` in `section` of the file, or `defaultValue`; at most bufferSize - 1
// characters come back.
std::string readPrivateProfileString(const std::string& path, std::string_view section,
                                     std::string_view key, std::string_view defaultValue,
                                     std::size_t bufferSize);

// Sets one key, straight to the file. False when the system refuses.
bool writePrivateProfileString(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view value);

// The system's ANSI code page, in which programs without our manifest write their files (an
// earlier version's RVD.ini): the registry's ACP, since GetACP answers 65001 under the
// manifest.
unsigned systemAnsiCodePage();

// `bytes` of code page `codePage` as UTF-8.
std::string utf8FromCodePage(std::string_view bytes, unsigned codePage);

}  // namespace ravdel
