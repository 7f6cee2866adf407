#pragma once

#include <string>
#include <string_view>

namespace ravdel {

enum class FileRead { ok, missing, failed };

// The whole content of a regular file. `missing` when neither it nor its folder exists;
// `failed` when it exists but cannot be read or is no regular file (a directory, a FIFO).
FileRead readWholeFile(const std::string& path, std::string& bytes);

// Replaces the file's content at once: the new content goes to a file beside it, which then
// takes its place, so a failed write leaves the old file whole. A symlink keeps pointing at the
// file it named, an existing file keeps its permissions, and a file we may not write is refused.
// Does not create folders.
bool replaceFileContents(const std::string& path, std::string_view bytes);

}  // namespace ravdel
