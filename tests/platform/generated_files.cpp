// The generated settings and save files of the differential check: the same files
// on every run, made from tables of values and of file shapes.
#include "generated_files.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Values at every boundary a reader may get wrong: the 32-bit limits on both sides,
// signs, hexadecimal and other prefixes, blanks, quotes, trailing text, and runs of
// zeros around the length at which a value's text may be cut.
std::vector<std::string> values() {
    std::vector<std::string> v = {
        "0", "1", "7", "-1", "+5", "-0", "+-5", "-+5", "--5", "- 5", "2147483647", "2147483648",
        "-2147483648", "-2147483649", "4294967295", "4294967296", "4294967297", "99999999999", "-99999999999",
        "18446744073709551615", "0x10", "0X1f", "0x", "0xg", "-0x10", "0xFFFFFFFF", "0x100000000",
        "0x7fffffff", "0b101", "0o17", "017", "08", "1e3", "4.5", "42abc", "42 17", "abc", "", " ", " 42",
        "\t42", "42 ", "42\t", "\"42\"", "'42'", "\"42", "42\"", "\" 42 \"", "\"-42\"", "\"\"", "'42\"",
        "42 ; a comment", "42;x",
        "\x01"
        "42",
        "\xA0"
        "42",
        "\xEF\xBC\x94\xEF\xBC\x92", "\xB2", "\"", "'", "0B101", "0O17", "0x-5", "-0b11", "+0x1F", " +5",
        "\x1A"
        "42",
        "42\x1A",
        "\x7F"
        "42",
        // Keys by name and the switches' words, as the plug-in reads them
        // from the text of the same value; and characters beyond ASCII,
        // which a reader narrows to the system's code page.
        "P", "p", "F5", "numpad0", "D7", "Q0", "Enter", "OemMinus", "None", "yes", "No", "ON", "off", "TRUE",
        "false", "\"P\"", "'yes'", "P ;x", "Page Up", "\xEF\xBC\x98\xEF\xBC\x90", "\xC3\xA9", "p\xC3\xA9",
        "8\xC3\xA9"};
    // Leading zeros up to past the length at which a value's text may be cut.
    for (int zeros : {8, 26, 27, 28, 29, 30, 31, 40, 100}) v.push_back(std::string((size_t)zeros, '0') + "7");
    // A value and then blanks up to about the same length.
    for (int blanks : {20, 27, 28, 29, 30, 40}) v.push_back(std::string((size_t)blanks, ' ') + "9");
    for (int blanks : {25, 40}) v.push_back("9" + std::string((size_t)blanks, ' ') + "x");
    // Quoted, with the quotes around the same length.
    for (int zeros : {26, 27, 28, 29}) v.push_back("\"" + std::string((size_t)zeros, '0') + "7\"");
    v.push_back("'" + std::string(28, '0') + "7");
    return v;
}

// The ways a line may end.
const std::pair<const char*, const char*> LineEnds[] = {{"lf", "\n"}, {"crlf", "\r\n"}, {"cr", "\r"}};

// `text` (ASCII) as UTF-16 after `bom`.
std::string utf16(const std::string& bom, bool bigEndian, const std::string& text) {
    std::string out = bom;
    for (char c : text) {
        if (bigEndian) out += '\0';
        out += c;
        if (!bigEndian) out += '\0';
    }
    return out;
}

// `text` (UTF-8, up to three bytes a character) as UTF-16 after `bom`.
std::string utf16Of(const std::string& bom, bool bigEndian, const std::string& text) {
    std::string out = bom;
    for (size_t i = 0; i < text.size();) {
        const unsigned char b = (unsigned char)text[i];
        unsigned unit = b;
        size_t n = 1;
        if (b >= 0xE0 && i + 2 < text.size()) {
            unit = (b & 0x0Fu) << 12 | ((unsigned char)text[i + 1] & 0x3Fu) << 6 |
                   ((unsigned char)text[i + 2] & 0x3Fu);
            n = 3;
        } else if (b >= 0xC0 && i + 1 < text.size()) {
            unit = (b & 0x1Fu) << 6 | ((unsigned char)text[i + 1] & 0x3Fu);
            n = 2;
        }
        const char high = (char)(unit >> 8), low = (char)(unit & 0xFF);
        out += bigEndian ? high : low;
        out += bigEndian ? low : high;
        i += n;
    }
    return out;
}

// Whole files: shapes of sections, keys, comments and odd bytes, each with the
// line end `nl`.
std::vector<std::pair<std::string, std::string>> shapes(const std::string& nl) {
    const std::string s = "[SETTINGS]" + nl;
    // Names and characters beyond ASCII, for the files in Unicode: full-width digits,
    // an accented letter before and after digits.
    const std::string names = s + "TOLVENMIRE_KEY=F5" + nl + "HEAL_WHEN_DRUNK=yes" + nl +
                              "REFILL_PRICE=\xEF\xBC\x98\xEF\xBC\x90" + nl +
                              "SOBER_UP_TIME=\xC3\xA9"
                              "7" +
                              nl + "DEADEYE_LOCK_THRESHOLD=7\xC3\xA9" + nl +
                              "RECORD_SESSION=\xE4\xB8\xAD\xC3\xA9" + nl;
    std::vector<std::pair<std::string, std::string>> f = {
        {"plain", s + "TOLVENMIRE_KEY=80" + nl + "REFILL_PRICE=12" + nl},
        {"no_final_line_end", s + "REFILL_PRICE=12"},
        {"lower_case_names", "[settings]" + nl + "refill_price=12" + nl},
        {"blanks_around", "  [ SETTINGS ]  " + nl + "  REFILL_PRICE  =  12  " + nl},
        {"tabs_around", "\t[SETTINGS]\t" + nl + "\tREFILL_PRICE\t=\t12\t" + nl},
        {"blank_in_brackets", "[ SETTINGS]" + nl + "REFILL_PRICE=12" + nl},
        {"text_after_header", "[SETTINGS] trailing" + nl + "REFILL_PRICE=12" + nl},
        {"unclosed_header", "[SETTINGS" + nl + "REFILL_PRICE=12" + nl},
        {"unclosed_then_closed", "[SETTINGS" + nl + "REFILL_PRICE=12" + nl + s + "REFILL_PRICE=13" + nl},
        {"nested_brackets", "[[SETTINGS]]" + nl + "REFILL_PRICE=12" + nl},
        {"key_before_any_section", "REFILL_PRICE=11" + nl + s + "TOLVENMIRE_KEY=80" + nl},
        {"key_in_other_section", "[OTHER]" + nl + "REFILL_PRICE=11" + nl + s + "TOLVENMIRE_KEY=80" + nl},
        {"key_after_other_section", s + "TOLVENMIRE_KEY=80" + nl + "[OTHER]" + nl + "REFILL_PRICE=11" + nl},
        {"duplicate_key", s + "REFILL_PRICE=12" + nl + "REFILL_PRICE=13" + nl},
        {"duplicate_key_first_empty", s + "REFILL_PRICE=" + nl + "REFILL_PRICE=13" + nl},
        {"duplicate_section_key_in_second",
         s + "TOLVENMIRE_KEY=80" + nl + "[OTHER]" + nl + s + "REFILL_PRICE=13" + nl},
        {"duplicate_section_key_in_both", s + "REFILL_PRICE=12" + nl + s + "REFILL_PRICE=13" + nl},
        {"duplicate_section_adjacent", s + s + "REFILL_PRICE=13" + nl},
        {"empty_section_name", "[]" + nl + "REFILL_PRICE=12" + nl + s + "TOLVENMIRE_KEY=80" + nl},
        {"comment_semicolon", s + ";REFILL_PRICE=12" + nl + "TOLVENMIRE_KEY=80" + nl},
        {"comment_semicolon_indented", s + "  ;REFILL_PRICE=12" + nl},
        {"comment_hash", s + "#REFILL_PRICE=12" + nl + "REFILL_PRICE=13" + nl},
        {"commented_section", ";[SETTINGS]" + nl + "REFILL_PRICE=12" + nl},
        {"key_without_equals", s + "REFILL_PRICE" + nl + "TOLVENMIRE_KEY=80" + nl},
        {"key_without_equals_then_key", s + "REFILL_PRICE" + nl + "REFILL_PRICE=13" + nl},
        {"empty_value", s + "REFILL_PRICE=" + nl},
        {"blank_value", s + "REFILL_PRICE=   " + nl},
        {"two_equals", s + "REFILL_PRICE==12" + nl},
        {"equals_in_key", s + "REFILL=PRICE=12" + nl},
        {"empty_key", s + "=12" + nl + "REFILL_PRICE=13" + nl},
        {"blank_in_key", s + "REFILL PRICE=12" + nl},
        {"key_prefix", s + "REFILL_PRICE_X=12" + nl + "REFILL_PRICEX=13" + nl},
        {"section_prefix", "[SETTINGSX]" + nl + "REFILL_PRICE=12" + nl},
        {"blank_lines", nl + nl + s + nl + nl + "REFILL_PRICE=12" + nl + nl},
        {"ctrl_z_before_section", "\x1A" + nl + s + "REFILL_PRICE=12" + nl},
        {"ctrl_z_before_key", s + "\x1A" + nl + "REFILL_PRICE=12" + nl},
        {"ctrl_z_in_value", s +
                                "REFILL_PRICE=1\x1A"
                                "2" +
                                nl},
        {"ctrl_z_after", s + "REFILL_PRICE=12" + nl + "\x1A"},
        {"nul_before_section", std::string("\0", 1) + nl + s + "REFILL_PRICE=12" + nl},
        {"nul_in_header", std::string("[SETT\0INGS]", 11) + nl + "REFILL_PRICE=12" + nl},
        {"nul_in_key", s + std::string("REFILL\0_PRICE=12", 16) + nl},
        {"nul_in_value", s + std::string("REFILL_PRICE=1\0002", 16) + nl},
        {"nul_after_value", s + std::string("REFILL_PRICE=12\0", 16) + nl + "TOLVENMIRE_KEY=80" + nl},
        {"nul_line", s + std::string("\0", 1) + nl + "REFILL_PRICE=12" + nl},
        {"nul_after_key_line",
         s + "REFILL_PRICE=12" + nl + std::string("\0\0\0", 3) + nl + "TOLVENMIRE_KEY=80" + nl},
        {"nul_after_key_name", s + std::string("REFILL_PRICE\0junk=12", 20) + nl},
        {"nul_after_section_name", std::string("[SETTINGS\0junk]", 15) + nl + "REFILL_PRICE=12" + nl},
        {"nul_first_in_value", s +
                                   std::string("REFILL_PRICE=\0"
                                               "42",
                                               16) +
                                   nl},
        {"nul_after_blank_in_value", s + std::string("REFILL_PRICE=12 \0x", 18) + nl},
        {"nul_before_closing_quote", s + std::string("REFILL_PRICE=\"12\0\"", 18) + nl},
        {"second_closing_bracket", "[SETTINGS]x]" + nl + "REFILL_PRICE=12" + nl},
        {"bracket_in_name", "[SET]TINGS]" + nl + "REFILL_PRICE=12" + nl},
        {"high_bytes_in_names",
         "[SETTINGS\xC9]" + nl + "REFILL_PRICE\xE9=12" + nl + s + "REFILL_PRICE=13" + nl},
        {"utf8_bom", "\xEF\xBB\xBF" + s + "REFILL_PRICE=12" + nl},
        {"utf16le_bom", utf16(std::string("\xFF\xFE", 2), false, s + "REFILL_PRICE=12" + nl)},
        {"utf16be_bom", utf16(std::string("\xFE\xFF", 2), true, s + "REFILL_PRICE=12" + nl)},
        {"utf16le_no_bom", utf16("", false, s + "REFILL_PRICE=12" + nl)},
        {"utf8_bom_key_first", "\xEF\xBB\xBF"
                               "REFILL_PRICE=11" +
                                   nl + s + "REFILL_PRICE=12" + nl},
        {"vertical_tab_and_form_feed", "\v[SETTINGS]\f" + nl + "\fREFILL_PRICE\v=\v12" + nl},
        {"utf16le_names", utf16Of(std::string("\xFF\xFE", 2), false, names)},
        {"utf16be_names", utf16Of(std::string("\xFE\xFF", 2), true, names)},
        {"utf8_bom_names", "\xEF\xBB\xBF" + names},
        {"every_key", s + "TOLVENMIRE_KEY=80" + nl + "DEADEYE_LOCK_THRESHOLD=45" + nl + "HEAL_WHEN_DRUNK=0" +
                          nl + "REFILL_PRICE=25" + nl + "SOBER_UP_TIME=50" + nl},
        {"every_key_reversed", s + "SOBER_UP_TIME=50" + nl + "REFILL_PRICE=25" + nl + "HEAL_WHEN_DRUNK=0" +
                                   nl + "DEADEYE_LOCK_THRESHOLD=45" + nl + "TOLVENMIRE_KEY=80" + nl},
    };
    // Long lines before, in and after the key.
    for (size_t n : {300u, 1100u, 5000u, 70000u}) {
        const std::string num = std::to_string(n);
        f.push_back({"long_comment_" + num, s + ";" + std::string(n, 'c') + nl + "REFILL_PRICE=12" + nl});
        f.push_back({"long_value_" + num, s + "REFILL_PRICE=12" + std::string(n, 'v') + nl});
        f.push_back({"long_value_blanks_" + num, s + "REFILL_PRICE=" + std::string(n, ' ') + "12" + nl});
        f.push_back({"long_key_" + num, s + std::string(n, 'K') + "=5" + nl + "REFILL_PRICE=12" + nl});
        f.push_back({"long_section_" + num, "[" + std::string(n, 'S') + "]" + nl + "REFILL_PRICE=11" + nl +
                                                s + "REFILL_PRICE=12" + nl});
    }
    // The key placed at and around 64 KiB into the file, and far past it.
    for (size_t at : {1000u, 65000u, 65534u, 65535u, 65536u, 65537u, 70000u, 140000u, 1100000u}) {
        std::string text = s + "TOLVENMIRE_KEY=80" + nl;
        const std::string line = "; filler" + nl;
        while (text.size() + line.size() <= at) text += line;
        text += std::string(at - text.size(), ' ');
        f.push_back({"key_at_" + std::to_string(at), text + "REFILL_PRICE=12" + nl + "SOBER_UP_TIME=7" + nl});
    }
    // The section header itself past 64 KiB.
    f.push_back({"section_at_70000", std::string(70000, ' ') + nl + s + "REFILL_PRICE=12" + nl});
    return f;
}

// Save files: the flask level's text with odd bytes around it.
std::vector<std::pair<std::string, std::string>> saveFiles() {
    std::vector<std::pair<std::string, std::string>> f;
    int n = 0;
    for (const std::string& v : values()) {
        char name[32];
        std::snprintf(name, sizeof name, "value_%02d", n++);
        f.push_back({name, v});
    }
    for (const auto& [end, nl] : LineEnds) {
        const std::string e = end;
        f.push_back({"42_then_" + e, std::string("42") + nl});
        f.push_back({e + "_then_42", std::string(nl) + "42"});
        f.push_back({e + "_only", std::string(nl) + nl});
        f.push_back({"minus_" + e + "_5", std::string("-") + nl + "5"});
    }
    f.push_back({"ctrl_z_only", "\x1A"});
    f.push_back({"ctrl_z_then_42", "\x1A"
                                   "42"});
    f.push_back({"blank_ctrl_z_42", " \x1A"
                                    "42"});
    f.push_back({"42_ctrl_z_7", "42\x1A"
                                "7"});
    f.push_back({"minus_ctrl_z", "-\x1A"
                                 "5"});
    f.push_back({"cr_ctrl_z", "\r\x1A"});
    f.push_back({"nul_first", std::string("\0"
                                          "42",
                                          3)});
    f.push_back({"42_nul_7", std::string("42\0"
                                         "7",
                                         4)});
    f.push_back({"blank_nul", std::string(" \0", 2)});
    f.push_back({"cr_lf_cr_42", "\r\n\r42"});
    f.push_back({"ff_vt_42", "\f\v42"});
    f.push_back({"high_byte_then_42", "\xFF"
                                      "42"});
    f.push_back({"utf8_bom_42", "\xEF\xBB\xBF"
                                "42"});
    f.push_back({"utf16_bom_42", std::string("\xFF\xFE"
                                             "4\0"
                                             "2\0",
                                             6)});
    for (size_t n : {4095u, 4096u, 4097u, 70000u}) {
        f.push_back({"blanks_" + std::to_string(n) + "_then_42", std::string(n, ' ') + "42"});
        f.push_back({"crlf_" + std::to_string(n) + "_then_42", [&] {
                         std::string t;
                         while (t.size() < n) t += "\r\n";
                         return t + "42";
                     }()});
        f.push_back({"zeros_" + std::to_string(n) + "_then_42", std::string(n, '0') + "42"});
        f.push_back({"42_then_digits_" + std::to_string(n), "42" + std::string(n, '7')});
    }
    // A CR LF pair split across the C library's buffer (4096 bytes).
    f.push_back({"crlf_across_4096", std::string(4095, ' ') + "\r\n42"});
    f.push_back({"minus_at_4096", std::string(4095, ' ') + "-42"});
    return f;
}

bool write(const fs::path& path, const std::string& bytes, std::string* error) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), (std::streamsize)bytes.size());
    out.close();
    if (out.fail()) {
        *error = path.string() + ": cannot write the file";
        return false;
    }
    return true;
}

} // namespace

int writeGeneratedFiles(const std::string& folder, std::string* error) {
    const fs::path settings = fs::path(folder) / "settings";
    const fs::path save = fs::path(folder) / "save";
    std::error_code ec;
    fs::remove_all(folder, ec);
    fs::create_directories(settings, ec);
    fs::create_directories(save, ec);
    if (ec) {
        *error = folder + ": cannot make the folders: " + ec.message();
        return -1;
    }
    int count = 0;
    for (const auto& [end, nl] : LineEnds) {
        for (const auto& [name, text] : shapes(nl)) {
            if (!write(settings / (name + "." + end), text, error)) return -1;
            ++count;
        }
        int n = 0;
        for (const std::string& v : values()) {
            char name[32];
            std::snprintf(name, sizeof name, "value_%02d.%s", n++, end);
            const std::string text = std::string("[SETTINGS]") + nl + "REFILL_PRICE=" + v + nl +
                                     "HEAL_WHEN_DRUNK=" + v + nl + "TOLVENMIRE_KEY=" + v + nl +
                                     "RECORD_SESSION=" + v + nl + "SOBER_UP_TIME=" + v;
            if (!write(settings / name, text, error)) return -1;
            ++count;
        }
    }
    for (const auto& [name, text] : saveFiles()) {
        if (!write(save / name, text, error)) return -1;
        ++count;
    }
    return count;
}
