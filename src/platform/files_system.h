#pragma once

#include <string>

// What each system brings to files.cpp (not for use above this folder).
namespace ravdel {

// ".NAME.PID-N.tmp" beside `target`: hidden, in the same folder (a move within one folder is
// atomic and copies nothing), unique in this process. Made in files.cpp.
std::string temporaryFileName(const std::string& target);

enum class Moved { done, taken, failed };

// Moves the file `from` to `to` in the same folder. Replacing: over any file of that name;
// otherwise `taken` when a file has it. `error` gets the system's code of a failure.
Moved moveFile(const std::string& from, const std::string& to, bool replacing, int& error);

// Removes a file; false when it could not be removed.
bool removeFile(const std::string& path);

}  // namespace ravdel
