#pragma once

#include <string>
#include <string_view>

namespace ravdel {

// Appends `text` as a JSON string. Bytes that are not UTF-8 become U+FFFD, so a line stays
// valid JSON whatever bytes a file or camera name holds.
void appendJsonString(std::string& out, std::string_view text);

// Numbers as JSON takes them, whatever the locale: the shortest text that reads back as
// `value`, and `value` with a fixed number of decimals.
std::string jsonNumber(double value);
std::string jsonFixedNumber(double value, int decimals);

}  // namespace ravdel
