#include "flask/flask_level.h"

#include "base/decimal_text.h"
#include "base/script_state.h"
#include "platform/platform.h"

#include <cstdio>

static const char* const SaveFile = "Tolvenmire.dat";
static const char* const SaveFileTemp = "Tolvenmire.dat.tmp";

void loadFlaskLevel() {
    FILE* f = fopen(SaveFile, "r");
    if (!f) return;
    const FlaskParse read = parseFlaskLevel([f]() { return fgetc(f); });
    fclose(f);
    if (read.kind == FlaskRead::Value)
        gState.flaskLevel = read.value;
    else if (read.kind == FlaskRead::NotANumber)
        gState.flaskLevel = 0;
}

void saveFlaskLevel() {
    char text[12];
    const int len = formatFlaskLevel(gState.flaskLevel, text);
    // Write aside, then swap in: the save file never holds a partial number.
    if (!platformWriteFile(SaveFileTemp, text, len) || !platformReplaceFile(SaveFileTemp, SaveFile))
        platformRemoveFile(SaveFileTemp);
}
