// A settings file explained as the plug-in reads it (settings_check.h).
#include "player/settings_check.h"

#include "player/scenario_words.h"
#include "player/settings_file.h"
#include "standin/printable_text.h"

#include "base/key_names.h"
#include "base/setting_values.h"
#include "platform/platform.h"
#include "platform/profile_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>

namespace player {

namespace {

// Past this the file's lines are not looked at (the plug-in reads it all, slowly:
// no settings file is this large).
const size_t MostBytes = 64u << 20;

enum {
    DrinkKey = 0,
    DeadeyeLockThreshold = 1,
    HealWhenDrunk = 2,
    RefillPrice = 3,
    SoberUpTime = 4,
    RecordSession = 5,
};

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    return s;
}

std::string number(int64_t v) { return std::to_string(v); }

// The characters [b, e) of the text (one byte each; beyond ASCII in UTF-16, 0x80).
std::string chars(const ProfileText& t, size_t b, size_t e) {
    std::string s;
    for (size_t i = b; i < e; ++i) s += (char)profileCharAt(t, i);
    return s;
}

// A name of the file shown bare (escaped).
std::string bare(const std::string& s) { return sim::printable(s); }

int settingIndex(const std::string& name) {
    for (int k = 0; k < SettingsKeys; ++k)
        if (upper(name) == SettingKeys[k].key) return k;
    return -1;
}

// "A", "A or B", "A, B or C" (or with "and").
std::string listed(const std::vector<std::string>& names, const char* conjunction = " or ") {
    std::string s;
    for (size_t i = 0; i < names.size(); ++i)
        s += (i == 0 ? "" : i + 1 == names.size() ? conjunction : ", ") + names[i];
    return s;
}

// The candidates nearest to `word` (any case), up to three of them, within a few
// edits for its length; none when nothing is that near.
std::vector<std::string> nearest(const std::string& word, const std::vector<std::string>& candidates) {
    const size_t allowed = word.size() <= 3 ? 1 : word.size() <= 6 ? 2 : 3;
    size_t best = allowed + 1;
    std::vector<std::string> found;
    for (const std::string& c : candidates) {
        const size_t d = editDistance(upper(word), upper(c));
        if (d > best) continue;
        if (d < best) found.clear();
        best = d;
        if (found.size() < 3) found.push_back(c);
    }
    return found;
}

// Words players use for keys whose names are otherwise.
struct KeyWord {
    const char* word;
    const char* name;
};
const KeyWord KeyWords[] = {
    {"ALT", "Menu"},           {"CTRL", "ControlKey"},
    {"CONTROL", "ControlKey"}, {"SHIFT", "ShiftKey"},
    {"ESC", "Escape"},         {"BACKSPACE", "Back"},
    {"DEL", "Delete"},         {"INS", "Insert"},
    {"PGUP", "PageUp"},        {"PGDN", "PageDown"},
    {"PGDOWN", "PageDown"},    {"WIN", "LWin"},
    {"WINDOWS", "LWin"},       {"CAPS", "CapsLock"},
    {"SCROLLLOCK", "Scroll"},  {"PRTSC", "PrintScreen"},
    {"SPACEBAR", "Space"},     {"ARROWUP", "Up"},
    {"ARROWDOWN", "Down"},     {"ARROWLEFT", "Left"},
    {"ARROWRIGHT", "Right"},   {"MINUS", "OemMinus"},
    {"PLUS", "Oemplus"},       {"COMMA", "Oemcomma"},
    {"PERIOD", "OemPeriod"},   {"SEMICOLON", "OemSemicolon"},
};

// The names a player may have meant by a text that names no key.
std::vector<std::string> keysMeant(const std::string& text) {
    // Without blanks, '_' and '-' ("Page Up", "num_pad_0"), or one of the words above.
    std::string squeezed;
    for (char c : text)
        if (c != ' ' && c != '_' && c != '-') squeezed += c;
    if (const int32_t code = keyCodeOfName(squeezed.c_str()); code >= 0) return {keyNameOfCode(code)};
    const std::string word = upper(squeezed);
    for (const KeyWord& k : KeyWords)
        if (word == k.word) return {k.name};
    // "Num0" to "Num9": the keypad's.
    if (word.size() == 4 && word.compare(0, 3, "NUM") == 0 && word[3] >= '0' && word[3] <= '9')
        return {std::string("NumPad") + word[3]};
    std::vector<std::string> names;
    for (const char* e = KeyNames; (unsigned char)*e != 0xFF; e += std::char_traits<char>::length(e + 1) + 2)
        names.push_back(e + 1);
    return nearest(text, names);
}

// The value a setting takes, as the table shows it.
std::string valueShown(int k, uint32_t v) {
    switch (SettingKeys[k].kind) {
    case SettingKeyCode:
        return keyName((int32_t)v);
    case SettingSwitch:
        return v != 0 ? "on" : "off";
    case SettingNumber:
        break;
    }
    return number((int32_t)v);
}

// Where a setting stands in the file: its line in the first [SETTINGS] section (0
// when it has none), whether that line has '=', and the value as the line has it.
struct Place {
    size_t line = 0;
    bool hasValue = false;
    std::string lineText;
    std::string value;
};

struct Finding {
    size_t line; // 0: the file as a whole, told first
    std::string text;
    bool mistake;
};

struct Check {
    std::string shown;
    bool readable = false; // the file's bytes were read
    std::vector<Finding> findings;
    Place places[SettingsKeys];
    char texts[SettingsKeys][SettingTextBytes] = {};
    uint32_t values[SettingsKeys] = {};
    SettingReading readings[SettingsKeys] = {};

    void mistake(size_t line, const std::string& text) { findings.push_back({line, text, true}); }
    void note(size_t line, const std::string& text) { findings.push_back({line, text, false}); }

    std::string defaultOf(int k) const { return valueShown(k, (uint32_t)SettingKeys[k].fallback); }

    void readValues(const std::string& path);
    void checkEncoding(const ProfileText& t, bool* linesMeaningless);
    void checkLines(const ProfileText& t);
    void checkValue(int k);
    std::string why(int k) const;
};

void Check::readValues(const std::string& path) {
    for (int k = 0; k < SettingsKeys; ++k) {
        const SettingKey& s = SettingKeys[k];
        GetPrivateProfileStringA("SETTINGS", s.key, "", texts[k], SettingTextBytes, path.c_str());
        const uint32_t number = GetPrivateProfileIntA("SETTINGS", s.key, s.fallback, path.c_str());
        values[k] = settingValueOf(k, texts[k], number, &readings[k]);
    }
}

void Check::checkEncoding(const ProfileText& t, bool* linesMeaningless) {
    const std::string save =
        " Save it as \"UTF-8\" (without a byte-order mark) or \"ANSI\", which every program "
        "reads alike.";
    if (t.encoding == ProfileUtf16Le || t.encoding == ProfileUtf16Be) {
        mistake(0, shown + " is saved as UTF-16" +
                       (t.encoding == ProfileUtf16Le
                            ? std::string(" (Notepad's \"Unicode\"")
                            : std::string(" big-endian (Notepad's \"Unicode big endian\"")) +
                       ", with a byte-order mark). Windows reads it as UTF-16, and the values above are what "
                       "it reads; but only plain letters, digits and signs count in it." +
                       save);
        return;
    }
    if (t.encoding == ProfileUtf8Bom) {
        // What a reader that keeps the mark makes of line 1.
        size_t at = 0;
        ProfileLine first;
        std::string harm = "which does no harm here, as line 1 is a comment or blank";
        if (profileNextLine(t, &at, &first)) {
            if (first.kind == ProfileSection)
                harm = "so the section header on it is not found, and the settings under it take their "
                       "defaults";
            else if (first.kind == ProfileKey)
                harm = "so the setting on it is not found";
        }
        mistake(0, shown +
                       " begins with a byte-order mark (Notepad's \"UTF-8 with BOM\"). The plug-in's reader "
                       "skips it here, but not every version of Windows does: one that does not takes it for "
                       "part of line 1, " +
                       harm + "." + save);
        return;
    }
    // UTF-16 without its mark: every other byte a NUL.
    size_t nuls = 0;
    for (size_t i = 0; i < t.size; ++i) nuls += t.bytes[i] == 0;
    if (t.size >= 4 && nuls * 3 >= t.size) {
        mistake(0, shown +
                       " looks saved as UTF-16 without a byte-order mark: Windows reads it byte by byte, and "
                       "finds no setting in it." +
                       save);
        *linesMeaningless = true;
    }
}

void Check::checkLines(const ProfileText& t) {
    enum class In { NoSection, Settings, LaterSettings, Other } in = In::NoSection;
    size_t settingsLine = 0; // the first [SETTINGS] header's
    std::string sectionName; // the section a line is in, as written
    size_t at = 0;
    size_t line = 0;
    ProfileLine l;
    while (profileNextLine(t, &at, &l)) {
        ++line;
        const std::string text = chars(t, l.begin, l.end);
        const std::string name = chars(t, l.nameBegin, l.nameEnd);
        if (l.kind == ProfileNoHeader) {
            mistake(line,
                    quote(text) + ": no closing ']', so Windows skips the line: it is no section header.");
            continue;
        }
        if (l.kind == ProfileSection) {
            sectionName = name;
            if (upper(name) == "SETTINGS") {
                if (settingsLine == 0) {
                    settingsLine = line;
                    in = In::Settings;
                    continue;
                }
                in = In::LaterSettings;
                mistake(line, "a second [SETTINGS] section: Windows reads only the first, on line " +
                                  number((int64_t)settingsLine) + ", so nothing in this one counts.");
                continue;
            }
            in = In::Other;
            const bool misspelt = upper(name).find("SETTING") != std::string::npos ||
                                  editDistance(upper(name), "SETTINGS") <= 3;
            mistake(line, "[" + bare(name) + "]: not the plug-in's section" +
                              (misspelt ? std::string("; did you mean [SETTINGS]?") : std::string(".")) +
                              " The plug-in reads only [SETTINGS], so nothing in this section counts.");
            continue;
        }
        if (l.kind != ProfileKey) continue;
        const int k = settingIndex(name);
        if (in != In::Settings) {
            const std::string where =
                in == In::NoSection ? "stands before any section, where the plug-in does not read it"
                : in == In::LaterSettings
                    ? "is in a second [SETTINGS] section, which Windows does not read"
                    : "is in section [" + bare(sectionName) + "], where the plug-in does not read it";
            if (k >= 0)
                mistake(line, quote(text) + " " + where + ": it belongs in the first [SETTINGS] section.");
            else if (in == In::NoSection)
                mistake(line, quote(text) + " stands before any section: Windows reads nothing there.");
            continue;
        }
        if (k < 0) {
            if (name.empty()) {
                mistake(line, quote(text) + ": a value without a setting's name.");
            } else if (name[0] == '#' || name[0] == '/') {
                mistake(line, quote(text) +
                                  ": Windows takes only ';' for the start of a comment, so this line "
                                  "is a setting named " +
                                  quote(name) +
                                  ", which is none. Begin the line with ';' to keep it as a comment.");
            } else {
                std::vector<std::string> keys;
                for (const SettingKey& s : SettingKeys) keys.push_back(s.key);
                const std::vector<std::string> meant = nearest(name, keys);
                mistake(line, bare(name) + ": not a setting" +
                                  (meant.empty() ? " (the settings are " + listed(keys, " and ") + ")."
                                                 : "; did you mean " + listed(meant) + "?"));
            }
            continue;
        }
        Place& p = places[k];
        if (p.line != 0) {
            mistake(line, std::string(SettingKeys[k].key) +
                              " is written twice: Windows takes the first, on line " +
                              number((int64_t)p.line) + " (" + quote(p.lineText) +
                              "), so this line changes nothing.");
            continue;
        }
        p.line = line;
        p.hasValue = l.hasValue;
        p.lineText = text;
        if (l.hasValue) p.value = chars(t, l.valueBegin, l.valueEnd);
    }
    if (settingsLine == 0)
        mistake(0, shown + " has no [SETTINGS] section, so every setting takes its default: put a line "
                           "[SETTINGS] above the settings.");
}

// What a setting's line in the first [SETTINGS] section means that the player may
// not have meant: no value, a text the plug-in does not take, a number out of its
// range; and, as notes, what the plug-in leaves out of a value.
void Check::checkValue(int k) {
    const Place& p = places[k];
    const std::string key = SettingKeys[k].key;
    const std::string text = texts[k];
    const SettingReading how = readings[k];
    if (p.line == 0) return; // not in the file: its default, as meant
    if (how == SettingMissing) {
        mistake(p.line, key + (p.hasValue ? " has no value" : " has no '='") +
                            ", so the plug-in takes the default, " + defaultOf(k) + ".");
        return;
    }
    if (how == SettingNotUnderstood) {
        std::string what;
        if (SettingKeys[k].kind == SettingKeyCode) {
            const std::vector<std::string> meant = keysMeant(text);
            what = " is no key's name and no number, so the drink key is the default, " + defaultOf(k) + "." +
                   (meant.empty() ? "" : " Did you mean " + listed(meant) + "?") +
                   " Tolvenmire-README.txt lists the names.";
        } else if (SettingKeys[k].kind == SettingSwitch) {
            what = " is neither a number nor on/off, yes/no, true/false, so the plug-in takes the default, " +
                   defaultOf(k) + ".";
        } else {
            what = " is no number, so the plug-in takes the default, " + defaultOf(k) +
                   ". Write a whole number, as " + key + "=" + number(SettingKeys[k].fallback) + ".";
        }
        mistake(p.line, key + ": " + quote(text) + what);
        return;
    }
    if (how == SettingFromNumber) {
        const char* end = nullptr;
        uint32_t digits;
        numberOfText(text.c_str(), &digits, &end);
        if (digits != values[k]) {
            // Characters Windows hands over as digits but does not read as digits:
            // full-width ones, in a file saved in Unicode.
            mistake(p.line, key + ": the value reads " + quote(text) +
                                " as text but is no plain digits (full-width "
                                "ones?): Windows reads it as " +
                                number((int32_t)values[k]) +
                                ", and so does the "
                                "plug-in. Write it in plain digits.");
            return;
        }
        std::string rest = end ? end : "";
        while (!rest.empty() && (unsigned char)rest.back() <= ' ') rest.pop_back();
        if (!rest.empty())
            note(p.line, key + "=" + bare(text) + ": the plug-in reads " + number((int32_t)values[k]) +
                             " and takes no notice of the rest, " + quote(rest) + ".");
    }
    std::string written = p.value;
    if (written.size() >= 2 && (written[0] == '"' || written[0] == '\'') && written.back() == written[0])
        written = written.substr(1, written.size() - 2);
    if (written.size() > (size_t)SettingTextBytes - 1)
        note(p.line, key + ": the plug-in reads no more than the value's first " +
                         number(SettingTextBytes - 1) + " characters, " + quote(text) + ".");
    const int32_t v = (int32_t)values[k];
    switch (k) {
    case DrinkKey:
        if (v < 0 || v >= 255) {
            mistake(p.line, key + "=" + bare(text) + ": a key code " +
                                (v < 0 ? std::string("below 0") : std::string("of 255 or more")) +
                                " never acts: no key drinks (with a controller the prompt still does).");
        } else if (how == SettingFromNumber && text.size() == 1) {
            mistake(p.line, key + "=" + bare(text) + ": " + number(v) + " is the code of " +
                                keyNameOfCode(v) + ", not of the " + number(v) + " key. Write D" + number(v) +
                                " for the digit above the letters, or NumPad" + number(v) +
                                " on the keypad.");
        } else if (!keyNameOfCode(v)) {
            note(p.line,
                 key + "=" + bare(text) + ": no key of a usual keyboard has the code " + number(v) + ".");
        }
        break;
    case DeadeyeLockThreshold:
        if (v < 0)
            mistake(p.line, key + "=" + bare(text) +
                                ": out of range (0 to 120): below 0, Dead Eye is locked while you aim and "
                                "are sober, until a drink takes hold.");
        else if (v > 120)
            mistake(p.line, key + "=" + bare(text) +
                                ": out of range (0 to 120): your intoxication goes no "
                                "higher than 121, so Dead Eye stays locked while you aim, "
                                "however much you drink.");
        break;
    case RefillPrice:
        if (v < 0 || v > 21474836)
            mistake(p.line, key + "=" + bare(text) + ": out of range (0 to 21474836 dollars)" +
                                (v < 0 ? std::string(": a refill has no negative price.")
                                       : std::string(": the plug-in charges no more than $21,474,836.47.")));
        break;
    case SoberUpTime:
        if (values[k] > LongestSoberUpTime)
            mistake(p.line, key + "=" + bare(text) + ": out of range (0 to " + number(LongestSoberUpTime) +
                                "): the plug-in takes the default's pace, a step every 110 in-game seconds.");
        break;
    case HealWhenDrunk:
    case RecordSession:
        if (how == SettingFromNumber && values[k] > 1)
            note(p.line, key + "=" + bare(text) + ": any number but 0 means on.");
        break;
    }
}

std::string Check::why(int k) const {
    const Place& p = places[k];
    const std::string at = "line " + number((int64_t)p.line);
    switch (readings[k]) {
    case SettingMissing:
        if (!readable) return "the default";
        if (p.line == 0) return "the default: not set in [SETTINGS]";
        return "the default: " + at + (p.hasValue ? " gives no value" : " has no '='");
    case SettingFromNumber:
        return p.line ? at + ": " + quote(texts[k]) : quote(texts[k]);
    case SettingFromName:
        return (p.line ? at + ": " : std::string()) + quote(texts[k]) +
               (SettingKeys[k].kind == SettingKeyCode ? ", the key's name" : "");
    case SettingNotUnderstood:
        break;
    }
    return "the default: " + quote(texts[k]) + (p.line ? " on " + at : std::string()) +
           (SettingKeys[k].kind == SettingKeyCode  ? " names no key"
            : SettingKeys[k].kind == SettingSwitch ? " is no number and no on/off"
                                                   : " is no number");
}

// `text` in lines of at most Width columns where it has blanks to break at, the
// lines after the first indented by `indent` more.
const size_t Width = 79;
void wrapInto(std::vector<std::string>* lines, const std::string& first, const std::string& text,
              size_t indent) {
    std::string line = first;
    size_t at = 0;
    bool start = true;
    while (at < text.size()) {
        size_t end = text.find(' ', at);
        if (end == std::string::npos) end = text.size();
        const std::string word = text.substr(at, end - at);
        if (!start && line.size() + 1 + word.size() > Width) {
            lines->push_back(line);
            line = std::string(first.size() + indent, ' ') + word;
        } else {
            line += (start ? "" : " ") + word;
        }
        start = false;
        at = end + 1;
    }
    lines->push_back(line);
}

} // namespace

int explainSettings(const std::string& path, const std::string& shown, std::string* out) {
    Check c;
    c.shown = sim::printable(shown);
    c.readValues(path);

    std::string bytes;
    struct stat st;
    c.readable = false;
    if (stat(path.c_str(), &st) != 0) {
        c.mistake(0, c.shown + ": no such file, so the plug-in takes every default.");
    } else if (S_ISDIR(st.st_mode)) {
        c.mistake(0, c.shown + " is a folder, not a file: the plug-in takes every default.");
    } else {
        if (FILE* f = fopen(path.c_str(), "rb")) {
            // Up to a byte past the most looked at, to tell a larger file.
            bytes.resize((size_t)std::min<uint64_t>((uint64_t)st.st_size, MostBytes) + 1);
            bytes.resize(fread(bytes.data(), 1, bytes.size(), f));
            c.readable = !ferror(f);
            fclose(f);
        }
        if (!c.readable) c.mistake(0, c.shown + " cannot be read: the plug-in takes every default.");
    }
    if (c.readable) {
        if (bytes.size() > MostBytes) {
            bytes.resize(MostBytes);
            c.mistake(0, c.shown + " is larger than 64 MiB, which no settings file is; its lines past the "
                                   "first 64 MiB are not looked at.");
        }
        const ProfileText t = profileText(bytes.data(), bytes.size());
        bool linesMeaningless = false;
        c.checkEncoding(t, &linesMeaningless);
        if (!linesMeaningless) c.checkLines(t);
        for (int k = 0; k < SettingsKeys; ++k) c.checkValue(k);
    }

    std::vector<std::string> lines;
    lines.push_back(c.shown + ", as the plug-in reads it:");
    lines.push_back("");
    // The values in a column as wide as the widest.
    int width = 0;
    for (int k = 0; k < SettingsKeys; ++k) width = std::max(width, (int)valueShown(k, c.values[k]).size());
    for (int k = 0; k < SettingsKeys; ++k) {
        char b[96];
        snprintf(b, sizeof b, "  %-22s  %-*s  ", SettingKeys[k].key, width,
                 valueShown(k, c.values[k]).c_str());
        std::string why = c.why(k);
        if (k == SoberUpTime)
            why += " (a step every " + number(soberUpIntervalFrom(c.values[k])) + " in-game seconds)";
        wrapInto(&lines, b, why, 0);
    }
    std::stable_sort(c.findings.begin(), c.findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
    const size_t mistakes = (size_t)std::count_if(c.findings.begin(), c.findings.end(),
                                                  [](const Finding& f) { return f.mistake; });
    lines.push_back("");
    if (mistakes == 0) {
        lines.push_back("Every line means what it says.");
    } else {
        lines.push_back(mistakes == 1 ? std::string("1 thing does not mean what it says:")
                                      : number((int64_t)mistakes) + " things do not mean what they say:");
        for (const Finding& f : c.findings)
            if (f.mistake)
                wrapInto(&lines, "  ", (f.line ? "line " + number((int64_t)f.line) + ": " : "") + f.text, 4);
    }
    if (mistakes != c.findings.size()) {
        lines.push_back("");
        lines.push_back("Notes:");
        for (const Finding& f : c.findings)
            if (!f.mistake)
                wrapInto(&lines, "  ", (f.line ? "line " + number((int64_t)f.line) + ": " : "") + f.text, 4);
    }
    out->clear();
    for (const std::string& l : lines) *out += l + "\n";
    return mistakes == 0 ? 0 : 1;
}

} // namespace player
