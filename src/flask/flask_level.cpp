#include "flask/flask_level.h"

#include "base/decimal_text.h"
#include "base/script_state.h"
#include "platform/platform.h"
#include "record/recorder.h"

#include <cstdio>

static const char* const SaveFile = "Tolvenmire.dat";
static const char* const SaveFileTemp = "Tolvenmire.dat.tmp";

void loadFlaskLevel() {
    FILE* f = fopen(SaveFile, "r");
    if (!f) return;
    recordSaveOpened();
    // Read in blocks: a save file of megabytes (of blanks, or of digits) costs a few
    // thousand block reads, not a locked call per character.
    char block[512];
    size_t size = 0;
    size_t at = 0;
    const FlaskParse read = parseFlaskLevel([&]() {
        if (at == size) {
            size = fread(block, 1, sizeof block, f);
            at = 0;
            recordSaveBytes(block, (int)size);
            if (size == 0) return -1;
        }
        return (int)(unsigned char)block[at++];
    });
    fclose(f);
    if (read.kind == FlaskRead::Value)
        gState.flaskLevel = read.value;
    else if (read.kind == FlaskRead::NotANumber)
        gState.flaskLevel = 0;
}

void saveFlaskLevel() {
    char text[12];
    const int len = formatFlaskLevel(gState.flaskLevel, text);
    recordSave(text, len);
    // Write aside, then swap in: the save file never holds a partial number.
    if (!platformWriteFile(SaveFileTemp, text, len) || !platformReplaceFile(SaveFileTemp, SaveFile))
        platformRemoveFile(SaveFileTemp);
}
