#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ravdel {

// The length of the UTF-8 sequence `text` starts with (1 for ASCII), or 0 when it starts with
// none: an empty text, a stray continuation byte, a cut-off sequence, an overlong form, a
// surrogate or a code point past U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text);

// Whether every byte of `text` belongs to a UTF-8 sequence.
bool isUtf8(std::string_view text);

// At most `maxBytes` bytes of UTF-8 `text`, cut before a character that would not fit whole.
std::string cutUtf8(std::string_view text, std::size_t maxBytes);

}  // namespace ravdel
