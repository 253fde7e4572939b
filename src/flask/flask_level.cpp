#include "flask/flask_level.h"

#include "flask/script_state.h"
#include "platform/platform.h"

#include <cstdio>

static const char* const SaveFile = "Tolvenmire.dat";
static const char* const SaveFileTemp = "Tolvenmire.dat.tmp";

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

void loadFlaskLevel() {
    FILE* f = fopen(SaveFile, "r");
    if (!f) return;
    const FlaskParse read = parseFlaskLevel([f]() { return fgetc(f); });
    fclose(f);
    if (read.kind == FlaskRead::Value) gState.flaskLevel = read.value;
    else if (read.kind == FlaskRead::NotANumber) gState.flaskLevel = 0;
}

void saveFlaskLevel() {
    char text[12];
    const int len = formatFlaskLevel(gState.flaskLevel, text);
    // Write aside, then swap in: the save file never holds a partial number.
    if (!platformWriteFile(SaveFileTemp, text, len) || !platformReplaceFile(SaveFileTemp, SaveFile))
        platformRemoveFile(SaveFileTemp);
}
