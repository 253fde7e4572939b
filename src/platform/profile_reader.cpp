#include "platform/profile_reader.h"

#include <cstring>

ProfileText profileText(const char* data, size_t size) {
    const unsigned char* b = (const unsigned char*)data;
    if (size >= 2 && b[0] == 0xFF && b[1] == 0xFE) return {b + 2, (size - 2) / 2, ProfileUtf16Le};
    if (size >= 2 && b[0] == 0xFE && b[1] == 0xFF) return {b + 2, (size - 2) / 2, ProfileUtf16Be};
    if (size >= 3 && b[0] == 0xEF && b[1] == 0xBB && b[2] == 0xBF) return {b + 3, size - 3, ProfileUtf8Bom};
    return {b, size, ProfileBytes};
}

unsigned char profileCharAt(const ProfileText& t, size_t i) {
    if (t.encoding != ProfileUtf16Le && t.encoding != ProfileUtf16Be) return t.bytes[i];
    const unsigned unit = t.encoding == ProfileUtf16Be ? (unsigned)t.bytes[2 * i] << 8 | t.bytes[2 * i + 1]
                                                       : (unsigned)t.bytes[2 * i + 1] << 8 | t.bytes[2 * i];
    return unit < 0x80 ? (unsigned char)unit : 0x80;
}

namespace {

bool wide(const ProfileText& t) { return t.encoding == ProfileUtf16Le || t.encoding == ProfileUtf16Be; }

// Where the line from `p` ends: its LF or CR, or the end of the text. Bytes are
// searched with memchr, so that a file of megabytes (read by each of the six
// calls) costs little.
size_t endOfLine(const ProfileText& t, size_t p) {
    if (!wide(t)) {
        const unsigned char* from = t.bytes + p;
        const void* lf = memchr(from, '\n', t.size - p);
        const size_t n = lf ? (size_t)((const unsigned char*)lf - from) : t.size - p;
        const void* cr = memchr(from, '\r', n);
        return p + (cr ? (size_t)((const unsigned char*)cr - from) : n);
    }
    size_t e = p;
    while (e < t.size && profileCharAt(t, e) != '\n' && profileCharAt(t, e) != '\r') ++e;
    return e;
}

// Blanks around names and values; a Ctrl-Z counts as one.
bool isBlank(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x1A; }

char lower(unsigned char c) { return (char)((c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c); }

// The end of [b, e) as a string: its first NUL, if any.
size_t untilNul(const ProfileText& t, size_t b, size_t e) {
    for (size_t i = b; i < e; ++i)
        if (profileCharAt(t, i) == 0) return i;
    return e;
}

// Does the text [b, e) equal `name`, ignoring case?
bool sameName(const ProfileText& t, size_t b, size_t e, const char* name) {
    for (; b < e; ++b, ++name) {
        if (*name == '\0' || lower(profileCharAt(t, b)) != lower((unsigned char)*name)) return false;
    }
    return *name == '\0';
}

void trim(const ProfileText& t, size_t& b, size_t& e) {
    while (b < e && isBlank(profileCharAt(t, b))) ++b;
    while (e > b && isBlank(profileCharAt(t, e - 1))) --e;
}

// The characters of [b, e) of the text one by one, as the system's wide text has
// them: a byte each in a file of bytes, a UTF-8 sequence after a UTF-8 mark, a code
// unit after a UTF-16 one.
struct Chars {
    const ProfileText& t;
    size_t at, end;
    bool next(uint32_t* c) {
        if (at >= end) return false;
        if (t.encoding != ProfileUtf8Bom || t.bytes[at] < 0x80) {
            *c = t.encoding == ProfileUtf16Le || t.encoding == ProfileUtf16Be ? unitAt(at) : t.bytes[at];
            ++at;
            return true;
        }
        // A sequence of two to four bytes; a byte that begins none stands alone.
        const unsigned char b = t.bytes[at];
        const size_t n = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        uint32_t v = n == 4 ? b & 0x07u : n == 3 ? b & 0x0Fu : b & 0x1Fu;
        size_t k = 1;
        for (; k < n && at + k < end && (t.bytes[at + k] & 0xC0) == 0x80; ++k)
            v = v << 6 | (t.bytes[at + k] & 0x3Fu);
        *c = n == 1 || k < n ? 0xFFFD : v;
        at += k;
        return true;
    }
    uint32_t unitAt(size_t i) const {
        return t.encoding == ProfileUtf16Be ? (uint32_t)t.bytes[2 * i] << 8 | t.bytes[2 * i + 1]
                                            : (uint32_t)t.bytes[2 * i + 1] << 8 | t.bytes[2 * i];
    }
};

// A character of a file in Unicode as the system narrows it to its ANSI code page,
// Windows-1252 here (Wine's in the differential check): ASCII and Latin-1 as they
// are, the full-width forms of ASCII by best fit as ASCII ("８" is "8"), anything
// else '?'. In the wide text the integer call reads, every character beyond ASCII is
// 0x80 (no blank, no digit, part of no name). A file of bytes keeps its bytes.
unsigned char narrowed(const ProfileText& t, uint32_t c, bool ansi) {
    if (t.encoding == ProfileBytes || c < 0x80) return (unsigned char)c;
    if (!ansi) return 0x80;
    if (c >= 0xA0 && c <= 0xFF) return (unsigned char)c;
    if (c >= 0xFF01 && c <= 0xFF5E) return (unsigned char)(c - 0xFEE0);
    return '?';
}

// Copies the characters of [b, e) into `out` as Windows copies a value: in matching
// quotes it loses them, at most `outSize` - 1 characters are kept, and after a
// quoted one the last character copied is dropped (the closing quote when it fitted,
// otherwise the value's own last one). `ansi`: narrowed as the text call hands it
// over, else as the integer call reads it.
uint32_t copyValue(const ProfileText& t, size_t b, size_t e, bool ansi, char* out, uint32_t outSize) {
    size_t n = 0;
    uint32_t first = 0, last = 0, c;
    for (Chars chars{t, b, e}; chars.next(&c); ++n) {
        if (n == 0) first = c;
        last = c;
    }
    const bool quoted = n >= 2 && (first == '"' || first == '\'') && last == first;
    Chars chars{t, b, e};
    if (quoted) {
        chars.next(&c);
        --n;
    }
    size_t kept = n < (size_t)outSize - 1 ? n : (size_t)outSize - 1;
    if (quoted && n <= outSize && kept > 0) --kept;
    for (size_t k = 0; k < kept && chars.next(&c); ++k) out[k] = (char)narrowed(t, c, ansi);
    out[kept] = '\0';
    return (uint32_t)kept;
}

// The same for the default, a string of the caller's.
uint32_t copyDefault(const char* def, char* out, uint32_t outSize) {
    // It loses its trailing blanks first.
    size_t n = strlen(def);
    while (n > 1 && def[n - 1] == ' ') --n;
    const ProfileText t{(const unsigned char*)def, n, ProfileBytes};
    return copyValue(t, 0, n, true, out, outSize);
}

// The value of `key` in the first `section` of the text: its characters [*b, *e);
// false when the section or the key is missing or the key has no '='.
bool findValue(const ProfileText& t, const char* section, const char* key, size_t* b, size_t* e) {
    size_t p = 0;
    bool inSection = false;
    ProfileLine l;
    while (profileNextLine(t, &p, &l)) {
        if (l.kind == ProfileSection) {
            if (inSection) return false; // the matching section ended without the key
            inSection = sameName(t, l.nameBegin, l.nameEnd, section);
            continue;
        }
        if (l.kind != ProfileKey || !inSection || !sameName(t, l.nameBegin, l.nameEnd, key)) continue;
        if (!l.hasValue) return false;
        // The value as a string: up to its first NUL.
        *b = l.valueBegin;
        *e = untilNul(t, l.valueBegin, l.valueEnd);
        return true;
    }
    return false;
}

} // namespace

bool profileNextLine(const ProfileText& t, size_t* at, ProfileLine* line) {
    const size_t p = *at;
    if (p >= t.size) return false;
    const size_t lineEnd = endOfLine(t, p);
    size_t next = lineEnd < t.size ? lineEnd + 1 : t.size;
    if (lineEnd < t.size && profileCharAt(t, lineEnd) == '\r' && next < t.size &&
        profileCharAt(t, next) == '\n')
        ++next;
    *at = next;
    ProfileLine& l = *line;
    l = ProfileLine{ProfileBlank, p, lineEnd, 0, 0, false, 0, 0};
    trim(t, l.begin, l.end);
    const size_t b = l.begin;
    const size_t e = l.end;
    if (b == e) return true;
    const unsigned char c = profileCharAt(t, b);
    if (c == ';') {
        l.kind = ProfileComment;
        return true;
    }
    if (c == '[') {
        // The name runs to the line's last ']'.
        size_t close = e - 1;
        while (close > b && profileCharAt(t, close) != ']') --close;
        l.kind = close == b ? ProfileNoHeader : ProfileSection;
        l.nameBegin = b + 1;
        l.nameEnd = close == b ? e : close;
        trim(t, l.nameBegin, l.nameEnd);
        // Names end at a NUL, as strings do.
        l.nameEnd = untilNul(t, l.nameBegin, l.nameEnd);
        return true;
    }
    // A line without '=' is a key without a value.
    l.kind = ProfileKey;
    size_t eq = b;
    while (eq < e && profileCharAt(t, eq) != '=') ++eq;
    l.nameBegin = b;
    l.nameEnd = eq;
    trim(t, l.nameBegin, l.nameEnd);
    l.nameEnd = untilNul(t, l.nameBegin, l.nameEnd);
    l.hasValue = eq < e;
    if (l.hasValue) {
        l.valueBegin = eq + 1;
        l.valueEnd = e;
        trim(t, l.valueBegin, l.valueEnd);
    }
    return true;
}

uint32_t profileReadString(const char* data, size_t size, const char* section, const char* key,
                           const char* def, char* out, uint32_t outSize) {
    if (outSize == 0) return 0;
    const ProfileText t = profileText(data, size);
    size_t b, e;
    if (!findValue(t, section, key, &b, &e)) return copyDefault(def, out, outSize);
    return copyValue(t, b, e, true, out, outSize);
}

uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def) {
    // The value's wide text as read into 30 characters, empty for a missing key.
    const ProfileText t = profileText(data, size);
    char text[30];
    size_t b, e;
    if (!findValue(t, section, key, &b, &e) || copyValue(t, b, e, false, text, sizeof text) == 0)
        return (uint32_t)def;
    // Then as the system converts a number's text: control characters and blanks
    // skipped, one sign, a "0x", "0o" or "0b" prefix (lower case only), and digits
    // up to the first other character; no digits gives 0, and the value wraps to 32
    // bits.
    const unsigned char* p = (const unsigned char*)text;
    while (*p != '\0' && *p <= ' ') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'o' || p[1] == 'b')) {
        base = p[1] == 'x' ? 16 : p[1] == 'o' ? 8 : 2;
        p += 2;
    }
    uint32_t value = 0;
    for (;; ++p) {
        const unsigned char c = *p;
        const uint32_t d = (c >= '0' && c <= '9')   ? c - '0'
                           : (c >= 'a' && c <= 'z') ? c - 'a' + 10
                           : (c >= 'A' && c <= 'Z') ? c - 'A' + 10
                                                    : 99;
        if (d >= base) break;
        value = value * base + d; // wraps, as 32-bit arithmetic does
    }
    return negative ? 0u - value : value;
}
