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

// Copies `n` characters from `next()` into `out` as Windows copies a value (or a
// default): in matching quotes it loses them, at most `outSize` - 1 characters are
// kept, and after a quoted one the last character copied is dropped (the closing
// quote when it fitted, otherwise the value's own last one).
template <typename At> uint32_t copyEntry(At at, size_t n, char* out, uint32_t outSize) {
    size_t b = 0;
    const unsigned char first = n > 0 ? at(0) : 0;
    const bool quoted = n >= 2 && (first == '"' || first == '\'') && at(n - 1) == first;
    if (quoted) {
        ++b;
        --n;
    }
    size_t kept = n < (size_t)outSize - 1 ? n : (size_t)outSize - 1;
    if (quoted && n <= outSize && kept > 0) --kept;
    for (size_t k = 0; k < kept; ++k) out[k] = (char)at(b + k);
    out[kept] = '\0';
    return (uint32_t)kept;
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
    size_t p = 0;
    bool inSection = false;
    ProfileLine l;
    while (profileNextLine(t, &p, &l)) {
        if (l.kind == ProfileSection) {
            if (inSection) break; // the matching section ended without the key
            inSection = sameName(t, l.nameBegin, l.nameEnd, section);
            continue;
        }
        if (l.kind != ProfileKey || !inSection || !sameName(t, l.nameBegin, l.nameEnd, key)) continue;
        if (!l.hasValue) break;
        // The value as a string: up to its first NUL.
        const size_t vb = l.valueBegin;
        return copyEntry([&](size_t k) { return profileCharAt(t, vb + k); }, untilNul(t, vb, l.valueEnd) - vb,
                         out, outSize);
    }
    // The default loses its trailing blanks, then is copied as a value is.
    size_t n = strlen(def);
    while (n > 1 && def[n - 1] == ' ') --n;
    return copyEntry([&](size_t k) { return (unsigned char)def[k]; }, n, out, outSize);
}

uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def) {
    // The value's text as read into 30 characters, empty for a missing key.
    char text[30];
    if (profileReadString(data, size, section, key, "", text, sizeof text) == 0) return (uint32_t)def;
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
