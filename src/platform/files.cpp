#include "platform/files.h"

namespace ravdel {

// Through ReplacingFile, whose files_<system>.cpp knows how the system replaces a file.
bool replaceFileContents(const std::string& path, std::string_view bytes) {
  ReplacingFile file(path);
  if (!file.ok()) return false;
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file.stream()) != bytes.size())
    return false;
  return file.commit();
}

}  // namespace ravdel
