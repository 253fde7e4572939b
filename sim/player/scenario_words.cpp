// The words of a scenario's line and what they hold (scenario_words.h).
#include "player/scenario_words.h"

#include "standin/printable_text.h"

#include "base/key_names.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace player {

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Splits a line into words (scenario_words.h).
namespace {

int hexDigit(char c) {
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// At line[*at], just after a backslash in quoted text: "xNN" (a byte) or "u{XXXX}"
// (a code point, written as UTF-8). True, having taken it; false leaves it.
bool quotedEscape(const std::string& line, size_t* at, std::string* text) {
    const size_t i = *at;
    if (i + 2 < line.size() && line[i] == 'x' && hexDigit(line[i + 1]) >= 0 && hexDigit(line[i + 2]) >= 0) {
        *text += (char)(hexDigit(line[i + 1]) * 16 + hexDigit(line[i + 2]));
        *at = i + 3;
        return true;
    }
    if (i + 1 >= line.size() || line[i] != 'u' || line[i + 1] != '{') return false;
    uint32_t cp = 0;
    size_t k = i + 2;
    for (; k < line.size() && k < i + 8 && hexDigit(line[k]) >= 0; ++k)
        cp = cp * 16 + (uint32_t)hexDigit(line[k]);
    if (k == i + 2 || k >= line.size() || line[k] != '}' || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    if (cp < 0x80) {
        *text += (char)cp;
    } else if (cp < 0x800) {
        *text += (char)(0xC0 | cp >> 6), *text += (char)(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *text += (char)(0xE0 | cp >> 12), *text += (char)(0x80 | (cp >> 6 & 0x3F));
        *text += (char)(0x80 | (cp & 0x3F));
    } else {
        *text += (char)(0xF0 | cp >> 18), *text += (char)(0x80 | (cp >> 12 & 0x3F));
        *text += (char)(0x80 | (cp >> 6 & 0x3F)), *text += (char)(0x80 | (cp & 0x3F));
    }
    *at = k + 1;
    return true;
}

} // namespace

bool tokenize(const std::string& line, std::vector<Token>* out, std::string* error) {
    out->clear();
    size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') {
            // A comment starts after a blank: "mission#5s" is a mistake to name, not a
            // mission without its length.
            if (!out->empty() && i > 0 && line[i - 1] != ' ' && line[i - 1] != '\t' && line[i - 1] != '\r') {
                *error = "a \"#\" right after " + quote(out->back().text) +
                         ": put a blank before a comment, or the word in double quotes";
                return false;
            }
            break;
        }
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                char d = line[i++];
                if (d == '"') {
                    closed = true;
                    break;
                }
                if (d == '\\' && i < line.size()) {
                    // \xNN and \u{XXXX}, as the timeline shows odd bytes, give them back.
                    if (quotedEscape(line, &i, &t.text)) continue;
                    const char e = line[i++];
                    d = e == 'n' ? '\n' : e == 't' ? '\t' : e == 'r' ? '\r' : e;
                }
                t.text += d;
            }
            if (!closed) {
                *error = "unterminated quoted text";
                return false;
            }
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' &&
                   line[i] != '#') {
                const unsigned char b = (unsigned char)line[i];
                if (b < 0x20 || b == 0x7F) {
                    char hex[8];
                    snprintf(hex, sizeof hex, "0x%02X", b);
                    *error = std::string("a control character (") + hex +
                             ") in a word: put odd bytes in quoted text";
                    return false;
                }
                t.text += line[i++];
            }
        }
        out->push_back(std::move(t));
    }
    return true;
}

size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t up = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// ` (did you mean "x"?)` for the nearest candidate within two edits, else "".
std::string suggestion(std::string_view word, const std::vector<std::string>& candidates) {
    size_t best = 3;
    std::string found;
    for (const std::string& c : candidates) {
        // Words apart in length by `best` or more are that many edits apart at least:
        // a long word costs nothing.
        const size_t apart = word.size() > c.size() ? word.size() - c.size() : c.size() - word.size();
        if (apart >= best) continue;
        const size_t d = editDistance(word, c);
        if (d < best) {
            best = d;
            found = c;
        }
    }
    return found.empty() ? "" : " (did you mean \"" + found + "\"?)";
}

// A word of the file in a message: quoted, escaped, and cut after 60 bytes.
std::string quote(std::string_view s) {
    const size_t Shown = 60;
    if (s.size() <= Shown) return "\"" + sim::printable(s, true) + "\"";
    size_t cut = Shown;
    while (cut > 0 && ((unsigned char)s[cut] & 0xC0) == 0x80) --cut; // not inside a character
    return "\"" + sim::printable(s.substr(0, cut), true) + "...\" (" + std::to_string(s.size()) + " bytes)";
}

std::string joined(const std::vector<std::string>& words) {
    std::string out;
    for (const std::string& w : words) out += (out.empty() ? "" : ", ") + w;
    return out;
}

bool parseInteger(std::string_view s, int64_t* out) {
    if (s.empty()) return false;
    std::string text(s);
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    if (hex) {
        if (!std::all_of(text.begin() + 2, text.end(), [](char c) { return isxdigit((unsigned char)c); }))
            return false;
        const unsigned long long v = strtoull(begin, &end, 16);
        if (errno != 0 || *end != '\0' || v > 0xFFFFFFFFull) return false;
        *out = (int64_t)v;
        return true;
    }
    // The whole word, NULs included, must be digits.
    if (!allDigits(s.substr((s[0] == '-' || s[0] == '+') ? 1 : 0))) return false;
    const long long v = strtoll(begin, &end, 10);
    if (errno != 0 || *end != '\0') return false;
    *out = v;
    return true;
}

bool parseReal(std::string_view s, double* out) {
    if (s.empty()) return false;
    std::string text(s);
    char* end = nullptr;
    errno = 0;
    const double v = strtod(text.c_str(), &end);
    if (errno != 0 || end != text.c_str() + text.size() || !std::isfinite(v)) return false;
    if (text.find_first_of("xXnNiI") != std::string::npos) return false; // no hex floats, nan, inf
    *out = v;
    return true;
}

// on/off words; prompts also read shown/hidden.
bool parseSwitch(std::string_view s, bool* out) {
    if (s == "on" || s == "yes" || s == "true" || s == "shown")
        *out = true;
    else if (s == "off" || s == "no" || s == "false" || s == "hidden")
        *out = false;
    else
        return false;
    return true;
}

// A key: a code (decimal or 0x..), or a key's name as the plug-in reads one in its
// settings file (P is 80, F5 116, D7 55).
bool parseKey(std::string_view s, int64_t* out) {
    if (parseInteger(s, out)) return *out >= 0 && *out <= 0xFFFFFFFFll;
    const int32_t code = keyCodeOfName(std::string(s).c_str());
    if (code < 0) return false;
    *out = code;
    return true;
}

} // namespace player
