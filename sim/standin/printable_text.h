// Text as a terminal may show it. What a scenario, a settings file, a save file or a
// recording holds may be any bytes; the timeline, the parser's messages, the
// pictures, the dump and a replay's difference show it without letting any of it
// move the cursor, hide a line or turn it around.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sim {

// Text as a terminal may show it: control characters (C0, DEL and C1), and bytes
// that are not UTF-8, written as escapes (\n, \t, \r, \xNN); the characters that
// reorder or hide text (the bidirectional marks, embeddings, overrides and
// isolates, the zero-width ones and the byte-order mark) as \u{XXXX}; so that no
// text a scenario or a file holds can move the cursor, hide a line or make one
// read otherwise than it is; with `inQuotes`, '"' and '\\' are escaped too, for
// text shown between quotes.
std::string printable(std::string_view text, bool inQuotes = false);
// Whether the code point acts on how text shows rather than showing: a control
// character (C0, DEL, C1), a bidirectional formatting character, a zero-width one
// or the byte-order mark. The pictures replace what this holds for.
bool actsOnDisplay(uint32_t codePoint);
// The length of the well-formed UTF-8 sequence at text[at] (1 to 4), with its code
// point in *codePoint; 0 when the bytes there are none (a stray or missing
// continuation byte, an overlong form, a surrogate, past U+10FFFF).
size_t utf8At(std::string_view text, size_t at, uint32_t* codePoint);

} // namespace sim
