// The save file's text on its own: what a number read from it gives, and the
// bytes a level is written as.
#include "base/decimal_text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace {

FlaskParse parse(const std::string& text) { return parseFlaskLevelText(text.data(), text.size()); }

std::string format(int32_t value) {
    char out[12];
    memset(out, '#', sizeof out);
    const int len = formatFlaskLevel(value, out);
    EXPECT_GE(len, 1);
    EXPECT_LE(len, 11);
    EXPECT_EQ(out[len], '\0') << "the text ends with a NUL";
    EXPECT_EQ(strlen(out), (size_t)len);
    return std::string(out, (size_t)len);
}

TEST(FlaskLevelText, NothingButWhiteSpaceLeavesTheLevelAlone) {
    for (const std::string& text : {std::string(""), std::string(" "), std::string(" \t\n\v\f\r  \n")}) {
        EXPECT_EQ(parse(text).kind, FlaskRead::Nothing) << "'" << text << "'";
    }
    // A Ctrl-Z ends a text-mode file: what follows it is never read.
    EXPECT_EQ(parse("\x1A").kind, FlaskRead::Nothing);
    EXPECT_EQ(parse("  \x1A"
                    "42")
                  .kind,
              FlaskRead::Nothing);
}

TEST(FlaskLevelText, SomethingThatDoesNotStartANumberReadsAsNotANumber) {
    for (const char* text : {"x", "abc42", "-", "+", "- 5", "+-5", "-+5", ".5", "\n-x", "\x01"}) {
        const FlaskParse p = parse(text);
        EXPECT_EQ(p.kind, FlaskRead::NotANumber) << "'" << text << "'";
    }
}

TEST(FlaskLevelText, ANumberIsReadUpToTheFirstNonDigit) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"42", 42},
                 {"42\n", 42},
                 {"42\r\n", 42},
                 {"   42", 42},
                 {"\t\n 42", 42},
                 {"42abc", 42},
                 {"42 17", 42},
                 {"42.9", 42},
                 {"00042", 42},
                 {"+5", 5},
                 {"-3", -3},
                 {"150", 150},
                 {"0", 0},
                 {"-0", 0},
                 {"99", 99},
                 {"5\x1A", 5},
                 {"-2147483648", INT32_MIN},
                 {"2147483647", INT32_MAX},
                 {"0000000000000000000000000007", 7}};
    for (const auto& c : cases) {
        const FlaskParse p = parse(c.text);
        EXPECT_EQ(p.kind, FlaskRead::Value) << "'" << c.text << "'";
        EXPECT_EQ(p.value, c.value) << "'" << c.text << "'";
    }
}

TEST(FlaskLevelText, ANumberTooLargeSaturatesWithItsSign) {
    const struct {
        const char* text;
        int32_t value;
    } cases[] = {{"2147483648", INT32_MAX},
                 {"99999999999", INT32_MAX},
                 {"4294967296", INT32_MAX}, // would wrap to 0 in 32 bits
                 {"4294967338", INT32_MAX}, // would wrap to 42
                 {"123456789012345678901234567890", INT32_MAX},
                 {"-2147483649", INT32_MIN},
                 {"-99999999999", INT32_MIN},
                 {"-4294967297", INT32_MIN}};
    for (const auto& c : cases) {
        const FlaskParse p = parse(c.text);
        EXPECT_EQ(p.kind, FlaskRead::Value) << c.text;
        EXPECT_EQ(p.value, c.value) << c.text;
    }
}

TEST(FlaskLevelText, OnlyTheGivenBytesAreRead) {
    EXPECT_EQ(parseFlaskLevelText("4217", 2).value, 42);
    EXPECT_EQ(parseFlaskLevelText("42", 0).kind, FlaskRead::Nothing);
    // A NUL is an ordinary character that stops the number.
    const char withNul[] = {'4', '\0', '2'};
    EXPECT_EQ(parseFlaskLevelText(withNul, sizeof withNul).value, 4);
    // Bytes above 0x7F are not white space and do not start a number.
    EXPECT_EQ(parse("\xA0"
                    "42")
                  .kind,
              FlaskRead::NotANumber);
}

TEST(FlaskLevelText, ALevelIsWrittenAsPlainDecimal) {
    EXPECT_EQ(format(0), "0");
    EXPECT_EQ(format(7), "7");
    EXPECT_EQ(format(10), "10");
    EXPECT_EQ(format(99), "99");
    EXPECT_EQ(format(150), "150");
    EXPECT_EQ(format(-3), "-3");
    EXPECT_EQ(format(-10), "-10");
    EXPECT_EQ(format(INT32_MAX), "2147483647");
    EXPECT_EQ(format(INT32_MIN), "-2147483648");
}

TEST(FlaskLevelText, WhatIsWrittenReadsBackTheSame) {
    for (int64_t v = INT32_MIN; v <= INT32_MAX; v += 999983) {
        const FlaskParse p = parse(format((int32_t)v));
        ASSERT_EQ(p.kind, FlaskRead::Value);
        ASSERT_EQ(p.value, (int32_t)v);
    }
    for (int32_t v = -1000; v <= 1000; ++v) ASSERT_EQ(parse(format(v)).value, v);
}

} // namespace
