// The keys' names the settings file takes, held name by name against the Windows
// Forms `Keys` enumeration written out again here (its names of the codes below
// 255); and that check itself finds each kind of fault planted in a copy of the table.
#include "base/key_names.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Named {
    std::string name;
    int code;
};

// The enumeration's names below 255. Where a code has several, the first listed is
// the one the plug-in's tools tell it by.
std::vector<Named> keysEnumeration() {
    std::vector<Named> k = {
        {"None", 0},
        {"LButton", 1},
        {"RButton", 2},
        {"Cancel", 3},
        {"MButton", 4},
        {"XButton1", 5},
        {"XButton2", 6},
        {"Back", 8},
        {"Tab", 9},
        {"LineFeed", 10},
        {"Clear", 12},
        {"Enter", 13},
        {"Return", 13},
        {"ShiftKey", 16},
        {"ControlKey", 17},
        {"Menu", 18},
        {"Pause", 19},
        {"CapsLock", 20},
        {"Capital", 20},
        {"KanaMode", 21},
        {"HanguelMode", 21},
        {"HangulMode", 21},
        {"JunjaMode", 23},
        {"FinalMode", 24},
        {"HanjaMode", 25},
        {"KanjiMode", 25},
        {"Escape", 27},
        {"IMEConvert", 28},
        {"IMENonconvert", 29},
        {"IMEAccept", 30},
        {"IMEAceept", 30},
        {"IMEModeChange", 31},
        {"Space", 32},
        {"PageUp", 33},
        {"Prior", 33},
        {"PageDown", 34},
        {"Next", 34},
        {"End", 35},
        {"Home", 36},
        {"Left", 37},
        {"Up", 38},
        {"Right", 39},
        {"Down", 40},
        {"Select", 41},
        {"Print", 42},
        {"Execute", 43},
        {"PrintScreen", 44},
        {"Snapshot", 44},
        {"Insert", 45},
        {"Delete", 46},
        {"Help", 47},
        {"LWin", 91},
        {"RWin", 92},
        {"Apps", 93},
        {"Sleep", 95},
        {"Multiply", 106},
        {"Add", 107},
        {"Separator", 108},
        {"Subtract", 109},
        {"Decimal", 110},
        {"Divide", 111},
        {"NumLock", 144},
        {"Scroll", 145},
        {"LShiftKey", 160},
        {"RShiftKey", 161},
        {"LControlKey", 162},
        {"RControlKey", 163},
        {"LMenu", 164},
        {"RMenu", 165},
        {"BrowserBack", 166},
        {"BrowserForward", 167},
        {"BrowserRefresh", 168},
        {"BrowserStop", 169},
        {"BrowserSearch", 170},
        {"BrowserFavorites", 171},
        {"BrowserHome", 172},
        {"VolumeMute", 173},
        {"VolumeDown", 174},
        {"VolumeUp", 175},
        {"MediaNextTrack", 176},
        {"MediaPreviousTrack", 177},
        {"MediaStop", 178},
        {"MediaPlayPause", 179},
        {"LaunchMail", 180},
        {"SelectMedia", 181},
        {"LaunchApplication1", 182},
        {"LaunchApplication2", 183},
        {"OemSemicolon", 186},
        {"Oem1", 186},
        {"Oemplus", 187},
        {"Oemcomma", 188},
        {"OemMinus", 189},
        {"OemPeriod", 190},
        {"OemQuestion", 191},
        {"Oem2", 191},
        {"Oemtilde", 192},
        {"Oem3", 192},
        {"OemOpenBrackets", 219},
        {"Oem4", 219},
        {"OemPipe", 220},
        {"Oem5", 220},
        {"OemCloseBrackets", 221},
        {"Oem6", 221},
        {"OemQuotes", 222},
        {"Oem7", 222},
        {"Oem8", 223},
        {"OemBackslash", 226},
        {"Oem102", 226},
        {"ProcessKey", 229},
        {"Packet", 231},
        {"Attn", 246},
        {"Crsel", 247},
        {"Exsel", 248},
        {"EraseEof", 249},
        {"Play", 250},
        {"Zoom", 251},
        {"NoName", 252},
        {"Pa1", 253},
        {"OemClear", 254},
    };
    for (int i = 0; i < 26; ++i) k.push_back({std::string(1, (char)('A' + i)), 'A' + i});
    // Appended rather than "D" + ...: GCC 12, inlining that insertion at -O2, warns
    // of a copy of more bytes than memory holds (wrongly).
    for (int i = 0; i <= 9; ++i) {
        k.push_back({std::string("D").append(std::to_string(i)), '0' + i});
        k.push_back({std::string("NumPad").append(std::to_string(i)), 96 + i});
    }
    for (int i = 1; i <= 24; ++i) k.push_back({std::string("F").append(std::to_string(i)), 111 + i});
    return k;
}

std::string withCase(std::string s, bool upper) {
    for (char& c : s) c = upper ? (char)toupper((unsigned char)c) : (char)tolower((unsigned char)c);
    return s;
}

// The table's entries as (name, code), in order.
std::vector<Named> entriesOf(const char* table) {
    std::vector<Named> out;
    for (const char* e = table; (unsigned char)*e != 0xFF; e += strlen(e + 1) + 2)
        out.push_back({e + 1, (unsigned char)*e});
    return out;
}

// What is wrong with `table` against the enumeration; empty when nothing is.
std::vector<std::string> faultsOf(const char* table) {
    std::vector<std::string> faults;
    const std::vector<Named> expected = keysEnumeration();
    std::map<int, std::string> toldBy;
    for (const Named& k : expected) {
        toldBy.emplace(k.code, k.name); // the first listed
        for (const std::string& written : {k.name, withCase(k.name, false), withCase(k.name, true)}) {
            const int32_t code = keyCodeOfNameIn(table, written.c_str());
            if (code != k.code)
                faults.push_back(written + " reads " + std::to_string(code) + ", not " +
                                 std::to_string(k.code));
        }
    }
    for (const Named& e : entriesOf(table)) {
        bool known = false;
        for (const Named& k : expected) known = known || (k.name == e.name && k.code == e.code);
        if (!known)
            faults.push_back("the table has " + e.name + " " + std::to_string(e.code) + ", no Keys name");
    }
    for (int code = 0; code < 256; ++code) {
        const char* name = keyNameOfCodeIn(table, code);
        const auto want = toldBy.find(code);
        const std::string got = name ? name : "(none)";
        if (got != (want == toldBy.end() ? "(none)" : want->second))
            faults.push_back(std::to_string(code) + " is told by " + got);
    }
    return faults;
}

std::string tableCopy() {
    size_t n = 0;
    while ((unsigned char)KeyNames[n] != 0xFF) n += strlen(KeyNames + n + 1) + 2;
    return std::string(KeyNames, n + 1);
}

TEST(KeyNames, EveryNameOfTheKeysEnumerationBelow255ReadsAsItsCodeInAnyCase) {
    for (const std::string& fault : faultsOf(KeyNames)) ADD_FAILURE() << fault;
    EXPECT_EQ(keyCodeOfName("P"), 80);
    EXPECT_EQ(keyNameOfCode(80), std::string("P"));
    for (const char* none : {"", "Q0", "F25", "NumPad10", "P ", " P", "Shift", "Alt", "Keys.P", "D10"})
        EXPECT_EQ(keyCodeOfName(none), -1) << none;
    EXPECT_EQ(keyNameOfCode(255), nullptr);
    EXPECT_EQ(keyNameOfCode(-1), nullptr);
}

TEST(KeyNames, TheCheckFindsAFaultPlantedInTheTable) {
    const std::string table = tableCopy();
    ASSERT_TRUE(faultsOf(table.c_str()).empty());
    // Where the entry of `name` begins (its code byte) in `t`.
    auto entry = [](const std::string& t, const char* name) {
        for (size_t e = 0; (unsigned char)t[e] != 0xFF; e += strlen(t.c_str() + e + 1) + 2)
            if (strcmp(t.c_str() + e + 1, name) == 0) return e;
        ADD_FAILURE() << "no entry " << name;
        return (size_t)0;
    };
    struct Planted {
        const char* what;
        std::string table;
    };
    std::vector<Planted> planted;
    {
        std::string t = table;
        t[entry(t, "F5")] = (char)117;
        planted.push_back({"F5 given F6's code", t});
    }
    {
        std::string t = table;
        t[entry(t, "OemPipe") + 1 + 4] = 'y';
        planted.push_back({"OemPipe misspelt", t});
    }
    {
        std::string t = table;
        t.erase(entry(t, "Insert"), strlen("Insert") + 2);
        planted.push_back({"Insert dropped", t});
    }
    {
        std::string t = table;
        t.erase(entry(t, "Enter"), strlen("Enter") + 2);
        t.insert(entry(t, "Return") + strlen("Return") + 2, std::string("\x0D") + "Enter" + '\0');
        planted.push_back({"Enter after Return", t});
    }
    {
        std::string t = table;
        t.insert(0, std::string("\x07") + "Bell" + '\0');
        planted.push_back({"a name the enumeration lacks", t});
    }
    for (const Planted& p : planted) EXPECT_FALSE(faultsOf(p.table.c_str()).empty()) << p.what;
}

} // namespace
