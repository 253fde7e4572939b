// The save file's text: reading a number as formatted input does, and writing one.
#include "base/decimal_text.h"

FlaskParse parseFlaskLevelText(const char* text, size_t size) {
    size_t i = 0;
    return parseFlaskLevel([&]() { return i < size ? (int)(unsigned char)text[i++] : -1; });
}

int formatFlaskLevel(int32_t value, char* out) {
    char digits[10];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - (uint32_t)value : (uint32_t)value;
    do {
        digits[n++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    int len = 0;
    if (value < 0) out[len++] = '-';
    while (n > 0) out[len++] = digits[--n];
    out[len] = '\0';
    return len;
}
