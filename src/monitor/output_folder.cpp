#include "monitor/output_folder.h"

#include <filesystem>
#include <system_error>

#include "monitor/monitor.h"
#include "platform/files.h"

namespace ravdel {
namespace {

// Clean and absolute, without a trailing separator.
std::string resolveTypedFolder(const std::string& shown, const std::string& typed) {
  std::filesystem::path path = (pathFromUtf8(shown) / pathFromUtf8(typed)).lexically_normal();
  // "sub/" names the same folder as "sub"; the root keeps its separator.
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return utf8FromPath(path);
}

}  // namespace

std::optional<std::string> acceptTypedFolder(const std::string& shown, const std::string& typed,
                                             const OutputFolderPrompts& prompts) {
  if (typed.empty()) return std::nullopt;
  const std::string text = resolveTypedFolder(shown, typed);
  const std::filesystem::path path = pathFromUtf8(text);
  std::error_code error;
  if (std::filesystem::exists(path, error)) {
    if (std::filesystem::is_directory(path, error)) return text;
    prompts.warn("\"" + text + "\" is not a directory.");
    return std::nullopt;
  }
  if (!prompts.confirmCreate()) return std::nullopt;
  // A directory that cannot be made is said here, and the chooser stays open: taking it anyway
  // would only make every later event fail to be stored.
  std::filesystem::create_directories(path, error);
  if (!error && std::filesystem::is_directory(path, error)) return text;
  std::string message = "Cannot create the directory \"" + text + "\".";
  if (error) message += "\n" + failureText(error.message());
  prompts.warn(message);
  return std::nullopt;
}

}  // namespace ravdel
