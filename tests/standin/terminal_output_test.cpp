// What a file or a recording holds reaches the terminal and the pictures only as
// text that shows: nothing in it may move the cursor, hide a line or reverse one.
#include "standin/printable_text.h"

#include <gtest/gtest.h>

TEST(PrintableText, NothingThatActsOnTheDisplayPassesThrough) {
    // Controls as today: C0 by name or \xNN, DEL, C1 byte by byte, a stray byte.
    EXPECT_EQ(sim::printable("a\nb\tc\rd\x1b[8m"), "a\\nb\\tc\\rd\\x1b[8m");
    EXPECT_EQ(sim::printable("\x7f\xc2\x9b\x9b"), "\\x7f\\xc2\\x9b\\x9b");
    // A right-to-left override would make "ok.txt" of "txt.ko"; isolates, marks,
    // zero-width characters and a byte-order mark hide or reorder text as well.
    EXPECT_EQ(sim::printable("\xe2\x80\xaetxt.ko"), "\\u{202E}txt.ko");
    EXPECT_EQ(sim::printable("a\xe2\x81\xa6"
                             "b\xe2\x81\xa9"
                             "c\xe2\x80\x8f"),
              "a\\u{2066}b\\u{2069}c\\u{200F}");
    EXPECT_EQ(sim::printable("NEUTR\xe2\x80\x8b"
                             "AL\xef\xbb\xbf"),
              "NEUTR\\u{200B}AL\\u{FEFF}");
    // Text that only shows stays as it is, quotes escaped between quotes.
    EXPECT_EQ(sim::printable("intake 3 \xe2\x86\x91 \xc3\xa9 \"x\"", true),
              "intake 3 \xe2\x86\x91 \xc3\xa9 \\\"x\\\"");
}

#include "standin/progress.h"

// The progress line says how far, of how much, and how long is left at the pace so far.
TEST(Progress, TheLineSaysHowFarOfHowMuchAndTheTimeLeft) {
    EXPECT_EQ(sim::progressLine("replaying a.rec", 27000, 108000, 10.0),
              "replaying a.rec: frame 27,000 of 108,000 (25 %), 0:30 left");
    EXPECT_EQ(sim::progressLine("playing long-night.txt", 1234567, 0, 3725.0),
              "playing long-night.txt: frame 1,234,567, 1:02:05 so far");
    EXPECT_EQ(sim::progressLine("x", 5, 5, 1.0), "x: frame 5 of 5 (100 %)");
}
