#pragma once

#include <functional>
#include <optional>
#include <string>

namespace ravdel {

// What a directory chooser asks and tells the user when OK takes a typed output folder; each
// window brings its own boxes, tests their answers. Called on the chooser's thread.
struct OutputFolderPrompts {
  // "The specified directory does not exist. Create it?": true for Yes.
  std::function<bool()> confirmCreate;
  // A directory that cannot be made, or a file in the way; the chooser stays open.
  std::function<void(const std::string&)> warn;
};

// OK of a directory chooser on a typed path (UTF-8), relative to the folder shown: an existing
// directory is taken; a missing one is made with its parents once the user agrees. The chosen
// path, clean and without a trailing separator, or nothing when the chooser stays open (no text,
// No, a file of that name, a directory that cannot be made).
std::optional<std::string> acceptTypedFolder(const std::string& shown, const std::string& typed,
                                             const OutputFolderPrompts& prompts);

}  // namespace ravdel
