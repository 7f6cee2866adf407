#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The system's INI routines (Windows only; the POSIX build reads and writes INI files itself).
// Paths and text are UTF-8; the program's manifest makes that the code page of the routines.
namespace ravdel {

// The value of `key` in `section` of the file, or `defaultValue`; at most bufferSize - 1
// characters come back.
std::string readPrivateProfileString(const std::string& path, std::string_view section,
                                     std::string_view key, std::string_view defaultValue,
                                     std::size_t bufferSize);

// Sets one key, straight to the file. False when the system refuses.
bool writePrivateProfileString(const std::string& path, std::string_view section,
                               std::string_view key, std::string_view value);

}  // namespace ravdel
