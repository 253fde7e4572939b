// The save file's text: one signed 32-bit number in decimal, read as formatted
// input reads it and written as formatted output writes it. Pure functions, below
// the file access that uses them and the meters that name textures by level.
#pragma once

#include <cstddef>
#include <cstdint>

// What reading a signed 32-bit integer from a text stream gives: white space is
// skipped, then an optional sign and decimal digits up to the first non-digit.
enum class FlaskRead {
    Nothing,    // only white space before the end: the value stays as it was
    Value,      // a number (saturated to the 32-bit range when too large)
    NotANumber, // something else comes first: the value becomes 0
};
struct FlaskParse {
    FlaskRead kind;
    int32_t value;
};

// Feeds characters from `next` (returning -1 at the end) through the reader.
template <typename NextChar> FlaskParse parseFlaskLevel(NextChar next) {
    int c = next();
    // White space, the classic locale's: blank, tab, line feed, vertical tab, form
    // feed, carriage return. A Ctrl-Z ends a text-mode file on Windows.
    while (c == ' ' || (c >= '\t' && c <= '\r')) c = next();
    if (c < 0 || c == 0x1A) return {FlaskRead::Nothing, 0};
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        c = next();
    }
    if (c < '0' || c > '9') return {FlaskRead::NotANumber, 0};
    // Accumulate the magnitude. A number past the 32-bit range saturates whatever
    // digits follow, and nothing after them counts: reading stops there.
    const uint32_t limit = negative ? 2147483648u : 2147483647u;
    uint32_t magnitude = 0;
    for (; c >= '0' && c <= '9'; c = next()) {
        const uint32_t d = (uint32_t)(c - '0');
        if (magnitude > (limit - d) / 10) return {FlaskRead::Value, negative ? INT32_MIN : INT32_MAX};
        magnitude = magnitude * 10 + d;
    }
    return {FlaskRead::Value, negative ? (int32_t)(0u - magnitude) : (int32_t)magnitude};
}

FlaskParse parseFlaskLevelText(const char* text, size_t size);

// Decimal text of `value` with no leading zeros, a '-' only for negatives; returns
// the length. `out` holds at least 12 bytes.
int formatFlaskLevel(int32_t value, char* out);
