#pragma once

#include <string>
#include <string_view>

namespace ravdel {

// The program's four-part version, compiled in from the build ("0.1.0.0"). With `full` false,
// the text before its last "." ("0.1.0").
std::string ReadFileVersion(bool full);

// The text before the last "."; empty when there is none.
std::string cutLastVersionPart(std::string_view version);

}  // namespace ravdel
