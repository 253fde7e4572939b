// The words of a scenario's line, and the readers of what they hold (numbers,
// switches, keys), with the wording of the reader's messages (a word quoted, the
// nearest known word). Shared by the setup's, the events' and the expectations'
// lines; none of it knows what a line means.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace player {

struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words; "double quotes" keep blanks and take \" \\ \n \t \r \xNN \u{X}; a #
// outside quotes, at the start or after a blank, starts a comment. False (with
// *error) for an unterminated quote, for a # right after a word, and for a control
// character outside quotes: a word never holds one, and a NUL in "9<NUL>9" must not
// end a number early.
bool tokenize(const std::string& line, std::vector<Token>* out, std::string* error);

// Decimal digits, at least one.
bool allDigits(std::string_view s);
// A whole number, decimal (with a sign) or 0x.. up to 32 bits.
bool parseInteger(std::string_view s, int64_t* out);
// A finite decimal number; no hex floats, nan or inf.
bool parseReal(std::string_view s, double* out);
// on/off words; prompts also read shown/hidden.
bool parseSwitch(std::string_view s, bool* out);
// A key: a code (decimal or 0x..), or a key's name as the plug-in reads one in its
// settings file (P is 80, F5 116, D7 55).
bool parseKey(std::string_view s, int64_t* out);

// The fewest insertions, deletions and replacements of a byte that make `a` into `b`.
size_t editDistance(std::string_view a, std::string_view b);
// ` (did you mean "x"?)` for the nearest candidate within two edits, else "".
std::string suggestion(std::string_view word, const std::vector<std::string>& candidates);
// A word of the file in a message: quoted, escaped, and cut after 60 bytes.
std::string quote(std::string_view s);
// "a, b, c".
std::string joined(const std::vector<std::string>& words);

} // namespace player
