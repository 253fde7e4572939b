#include "platform/profile_reader.h"

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

char lower(char c) { return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c; }

// Does [b, e) equal `name`, ignoring case?
bool sameName(const char* b, const char* e, const char* name) {
    for (; b < e; ++b, ++name) {
        if (*name == '\0' || lower(*b) != lower(*name)) return false;
    }
    return *name == '\0';
}

void trim(const char*& b, const char*& e) {
    while (b < e && isBlank(*b)) ++b;
    while (e > b && isBlank(e[-1])) --e;
}

int digitValue(char c, uint32_t base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return (v >= 0 && (uint32_t)v < base) ? v : -1;
}

uint32_t convertValue(const char* b, const char* e) {
    trim(b, e);
    // A value in matching quotes is read without them.
    if (e - b >= 2 && (*b == '"' || *b == '\'') && e[-1] == *b) {
        ++b;
        --e;
        trim(b, e);
    }
    bool negative = false;
    if (b < e && *b == '-') {
        negative = true;
        ++b;
    }
    uint32_t base = 10;
    if (e - b >= 2 && b[0] == '0' && (b[1] == 'x' || b[1] == 'X')) {
        base = 16;
        b += 2;
    }
    uint32_t value = 0;
    for (; b < e; ++b) {
        int d = digitValue(*b, base);
        if (d < 0) break;
        value = value * base + (uint32_t)d; // wraps, as 32-bit arithmetic does
    }
    return negative ? 0u - value : value;
}

} // namespace

uint32_t profileReadInt(const char* data, size_t size, const char* section, const char* key, int32_t def) {
    const char* p = data;
    const char* end = data + size;
    bool inSection = false;
    while (p < end) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n') ++lineEnd;
        const char* b = p;
        const char* e = lineEnd;
        p = lineEnd < end ? lineEnd + 1 : end;
        trim(b, e);
        if (b == e || *b == ';') continue;
        if (*b == '[') {
            const char* close = b + 1;
            while (close < e && *close != ']') ++close;
            if (close == e) continue; // not a section header
            const char* nb = b + 1;
            const char* ne = close;
            trim(nb, ne);
            if (inSection) return (uint32_t)def; // the matching section ended without the key
            inSection = sameName(nb, ne, section);
            continue;
        }
        if (!inSection) continue;
        const char* eq = b;
        while (eq < e && *eq != '=') ++eq;
        if (eq == e) continue;
        const char* kb = b;
        const char* ke = eq;
        trim(kb, ke);
        if (sameName(kb, ke, key)) return convertValue(eq + 1, e);
    }
    return (uint32_t)def;
}
