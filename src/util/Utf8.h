#pragma once
#include <cstddef>
#include <string_view>

namespace bp {

// How many bytes of `text` to keep when it must fit in `maxBytes`. A cut that would end inside a
// UTF-8 character moves back to that character's first byte, so a text that is UTF-8 stays
// UTF-8; where the bytes before the cut are not UTF-8, the text is cut at `maxBytes` as it falls.
std::size_t utf8CutLength(std::string_view text, std::size_t maxBytes) noexcept;

}  // namespace bp
