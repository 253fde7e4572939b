// Text as a terminal may show it. What a scenario, a settings file or a save file
// holds may be any bytes; the timeline, the parser's messages and the pictures show
// it without letting any of it move the cursor or hide a line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace player {

// Text as a terminal may show it: control characters (C0, DEL and C1), and bytes
// that are not UTF-8, written as escapes (\n, \t, \r, \xNN), so that no text a
// scenario or a file holds can move the cursor or hide a line; with `inQuotes`,
// '"' and '\\' are escaped too, for text shown between quotes.
std::string printable(std::string_view text, bool inQuotes = false);
// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), with its code
// point in *codePoint; 0 when the bytes there are none (a stray or missing
// continuation byte, an overlong form, a surrogate, past U+10FFFF).
size_t utf8At(std::string_view text, size_t at, uint32_t* codePoint);

} // namespace player
