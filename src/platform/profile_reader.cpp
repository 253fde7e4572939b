#include "platform/profile_reader.h"

#include <cstring>

namespace {

// The file's text, one character at a time: bytes, or UTF-16 code units after a
// byte-order mark (a character beyond ASCII stands as 0x80, which is no blank, no
// digit and part of no name the plug-in asks for).
struct Text {
    const unsigned char* bytes;
    size_t size;   // characters
    int unitBytes; // 1, or 2 for UTF-16
    bool bigEndian;

    unsigned char at(size_t i) const {
        if (unitBytes == 1) return bytes[i];
        const unsigned unit = bigEndian ? (unsigned)bytes[2 * i] << 8 | bytes[2 * i + 1]
                                        : (unsigned)bytes[2 * i + 1] << 8 | bytes[2 * i];
        return unit < 0x80 ? (unsigned char)unit : 0x80;
    }
};

Text decode(const char* data, size_t size) {
    const unsigned char* b = (const unsigned char*)data;
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) return {b + 2, (size - 2) / 2, 2, false};
    if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) return {b + 2, (size - 2) / 2, 2, true};
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return {b + 3, size - 3, 1, false};
    return {b, size, 1, false};
}

// Where the line from `p` ends: its LF or CR, or the end of the text. Bytes are
// searched with memchr, so that a file of megabytes (read by each of the six
// calls) costs little.
size_t endOfLine(const Text& t, size_t p) {
    if (t.unitBytes == 1) {
        const unsigned char* from = t.bytes + p;
        const void* lf = memchr(from, '\n', t.size - p);
        const size_t n = lf ? (size_t)((const unsigned char*)lf - from) : t.size - p;
        const void* cr = memchr(from, '\r', n);
        return p + (cr ? (size_t)((const unsigned char*)cr - from) : n);
    }
    size_t e = p;
    while (e < t.size && t.at(e) != '\n' && t.at(e) != '\r') ++e;
    return e;
}

// Blanks around names and values; a Ctrl-Z counts as one.
bool isBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

char lower(unsigned char c) { return (char)((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c); }

// The end of [b, e) as a string: its first NUL, if any.
size_t untilNul(const Text& t, size_t b, size_t e) {
    for (size_t i = b; i < e; ++i)
        if (t.at(i) == 0) return i;
    return e;
}

// Does the text [b, e), up to a NUL, equal `name`, ignoring case?
bool sameName(const Text& t, size_t b, size_t e, const char* name) {
    e = untilNul(t, b, e);
    for (; b < e; ++b, ++name) {
        if (*name == '\0' || lower(t.at(b)) != lower((unsigned char)*name)) return false;
    }
    return *name == '\0';
}

void trim(const Text& t, size_t& b, size_t& e) {
    while (b < e && isBlank(t.at(b))) ++b;
    while (e > b && isBlank(t.at(e - 1))) --e;
}

// The longest value text the call converts: the rest is cut off.
const size_t ValueChars = 29;

int digitValue(unsigned char c, uint32_t base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'z')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'Z')
        v = c - 'A' + 10;
    return (v >= 0 && (uint32_t)v < base) ? v : -1;
}

// The integer of the (trimmed) value text [b, e); false when it is empty.
bool convertValue(const Text& t, size_t b, size_t e, uint32_t* out) {
    // Names and values end at a NUL, as strings do.
    e = untilNul(t, b, e);
    // A value in matching quotes loses them. The text is copied into a buffer of
    // ValueChars characters, and after a quoted one the last character copied is
    // dropped: the closing quote when it fitted, otherwise the value's own last one.
    const unsigned char first = b < e ? t.at(b) : 0;
    const bool quoted = e - b >= 2 && (first == '"' || first == '\'') && t.at(e - 1) == first;
    size_t n = e - b;
    if (quoted) {
        ++b;
        --n;
    }
    size_t kept = n < ValueChars ? n : ValueChars;
    if (quoted && n <= ValueChars + 1) --kept;
    e = b + kept;
    if (b == e) return false;
    // Then as the system converts a number's text: control characters and blanks
    // skipped, one sign, a "0x", "0o" or "0b" prefix (lower case only), and digits
    // up to the first other character; no digits gives 0, and the value wraps to 32
    // bits.
    while (b < e && t.at(b) <= ' ') ++b;
    bool negative = false;
    if (b < e && (t.at(b) == '+' || t.at(b) == '-')) {
        negative = t.at(b) == '-';
        ++b;
    }
    uint32_t base = 10;
    if (e - b >= 2 && t.at(b) == '0') {
        const unsigned char p = t.at(b + 1);
        base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 10;
        if (base != 10) b += 2;
    }
    uint32_t value = 0;
    for (; b < e; ++b) {
        const int d = digitValue(t.at(b), base);
        if (d < 0) break;
        value = value * base + (uint32_t)d; // wraps, as 32-bit arithmetic does
    }
    *out = negative ? 0u - value : value;
    return true;
}

} // namespace

uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def) {
    const Text t = decode(data, size);
    size_t p = 0;
    bool inSection = false;
    while (p < t.size) {
        const size_t lineEnd = endOfLine(t, p);
        size_t b = p;
        size_t e = lineEnd;
        p = lineEnd < t.size ? lineEnd + 1 : t.size;
        trim(t, b, e);
        if (b == e || t.at(b) == ';') continue;
        if (t.at(b) == '[') {
            // The name runs to the line's last ']'.
            size_t close = e - 1;
            while (close > b && t.at(close) != ']') --close;
            if (close == b) continue; // not a section header
            size_t nb = b + 1;
            size_t ne = close;
            trim(t, nb, ne);
            if (inSection) return (uint32_t)def; // the matching section ended without the key
            inSection = sameName(t, nb, ne, section);
            continue;
        }
        if (!inSection) continue;
        // A line without '=' is a key without a value.
        size_t eq = b;
        while (eq < e && t.at(eq) != '=') ++eq;
        size_t kb = b;
        size_t ke = eq;
        trim(t, kb, ke);
        if (!sameName(t, kb, ke, key)) continue;
        if (eq == e) return (uint32_t)def;
        size_t vb = eq + 1;
        size_t ve = e;
        trim(t, vb, ve);
        uint32_t value;
        return convertValue(t, vb, ve, &value) ? value : (uint32_t)def;
    }
    return (uint32_t)def;
}
