#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace bp {

// How many bytes of `text` to keep when it must fit in `maxBytes`. A cut that would end inside a
// UTF-8 character moves back to that character's first byte, so a text that is UTF-8 stays
// UTF-8; where the bytes before the cut are not UTF-8, the text is cut at `maxBytes` as it falls.
std::size_t utf8CutLength(std::string_view text, std::size_t maxBytes) noexcept;

// UTF-8 text as UTF-16, little-endian, two bytes a unit (the wire form of a UNICODE_STRING);
// nullopt where the text is not UTF-8.
std::optional<std::string> utf8ToUtf16le(std::string_view text);
// UTF-16 little-endian bytes as UTF-8, up to a 0 code unit (a terminator some nodes send). An odd
// last byte is dropped; an unpaired surrogate reads as U+FFFD.
std::string utf16leToUtf8(std::string_view bytes);

}  // namespace bp
