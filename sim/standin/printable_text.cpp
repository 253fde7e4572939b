// Text shown on a terminal (printable_text.h): every byte a file may hold, escaped
// where it could act on the terminal rather than show.
#include "standin/printable_text.h"

#include <cstdio>

namespace sim {

size_t utf8At(std::string_view text, size_t at, uint32_t* codePoint) {
    const auto byte = [&](size_t k) { return at + k < text.size() ? (unsigned char)text[at + k] : 0u; };
    const unsigned b0 = byte(0);
    if (b0 < 0x80) {
        *codePoint = b0;
        return at < text.size() ? 1 : 0;
    }
    // The second byte's range depends on the first, which rules out overlong forms,
    // surrogates and code points past U+10FFFF.
    size_t n = 0;
    unsigned low = 0x80, high = 0xBF, cp = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF)
        n = 2, cp = b0 & 0x1F;
    else if (b0 >= 0xE0 && b0 <= 0xEF)
        n = 3, cp = b0 & 0x0F, low = b0 == 0xE0 ? 0xA0 : 0x80, high = b0 == 0xED ? 0x9F : 0xBF;
    else if (b0 >= 0xF0 && b0 <= 0xF4)
        n = 4, cp = b0 & 0x07, low = b0 == 0xF0 ? 0x90 : 0x80, high = b0 == 0xF4 ? 0x8F : 0xBF;
    else
        return 0;
    for (size_t k = 1; k < n; ++k) {
        const unsigned b = byte(k);
        if (b < (k == 1 ? low : 0x80) || b > (k == 1 ? high : 0xBF)) return 0;
        cp = cp << 6 | (b & 0x3F);
    }
    *codePoint = cp;
    return n;
}

bool actsOnDisplay(uint32_t cp) {
    if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) return true;
    switch (cp) {
    case 0x061C: // Arabic letter mark
    case 0x200B: // zero-width space
    case 0x200C: // zero-width non-joiner
    case 0x200D: // zero-width joiner
    case 0x200E: // left-to-right mark
    case 0x200F: // right-to-left mark
    case 0x2060: // word joiner
    case 0xFEFF: // byte-order mark, zero-width no-break space
        return true;
    }
    return (cp >= 0x202A && cp <= 0x202E)     // embeddings, overrides, their pop
           || (cp >= 0x2066 && cp <= 0x2069); // isolates and their pop
}

std::string printable(std::string_view text, bool inQuotes) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t n = utf8At(text, i, &cp);
        if (cp > 0x9F && actsOnDisplay(cp)) {
            // A character that reorders or hides text: shown by its code point.
            char code[16];
            snprintf(code, sizeof code, "\\u{%04X}", (unsigned)cp);
            out += code;
            i += n;
            continue;
        }
        const bool control = n == 0 || actsOnDisplay(cp);
        if (!control) {
            if (inQuotes && (cp == '"' || cp == '\\')) out += '\\';
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        // Each byte of a control character, or the one byte that is not UTF-8.
        const size_t bytes = n == 0 ? 1 : n;
        for (size_t k = 0; k < bytes; ++k) {
            const unsigned char c = (unsigned char)text[i + k];
            if (c == '\n')
                out += "\\n";
            else if (c == '\t')
                out += "\\t";
            else if (c == '\r')
                out += "\\r";
            else {
                char hex[8];
                snprintf(hex, sizeof hex, "\\x%02x", c);
                out += hex;
            }
        }
        i += bytes;
    }
    return out;
}

} // namespace sim
