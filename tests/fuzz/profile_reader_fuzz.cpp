// The settings reader on arbitrary text: no crash, no read outside the text (which
// has no terminating NUL), and these properties of a lookup:
//   - a key or a section whose name appears nowhere in the text gives the default;
//   - the result depends on the default only when it is the default;
//   - a key placed at the top of its section wins, and its value converts as
//     Windows converts it (blanks, quotes, a sign, "0x", "0o" and "0b", digits up
//     to the first other character, 32-bit wrap, the text cut at 29 characters, an
//     empty value giving the default).
//
// Besides, against a plain model of the file (lines ending at LF or CR, "[section]"
// headers, "key=value" lines, ';' comments, byte-order marks), the key read is the
// first of the first section of that name, and the default comes back exactly when
// that section lacks the key or the key has no value. Windows (Wine) answered so for
// every file of tests/platform' differential check.
//
// The text call too: into a buffer of any size it writes no further than its size,
// ends the text there and says how long it is; and the plug-in's reading of the text
// it gives into 30 bytes (base/setting_values.h) takes every value the integer call
// reads as a number as that number, and no text as the default.
//
// Input: one byte choosing the section and the key, four bytes of default, one byte
// giving the length of a value placed in front, that value, then the file's text.
#include "platform/profile_reader.h"

#include "base/setting_values.h"

#include "fuzz_check.h"

#include <cctype>
#include <cstring>
#include <memory>
#include <string>

namespace {

const char* const Sections[] = {"SETTINGS", "settings", "Other Section", "S"};
const char* const Keys[] = {"TOLVENMIRE_KEY",
                            "DEADEYE_LOCK_THRESHOLD",
                            "HEAL_WHEN_DRUNK",
                            "REFILL_PRICE",
                            "SOBER_UP_TIME",
                            "sober_up_time",
                            "K",
                            "KEY WITH BLANKS"};

bool containsIgnoringCase(const std::string& text, const char* name) {
    const size_t n = std::strlen(name);
    if (n > text.size()) return false;
    for (size_t i = 0; i + n <= text.size(); ++i) {
        size_t k = 0;
        while (k < n && std::tolower((unsigned char)text[i + k]) == std::tolower((unsigned char)name[k])) ++k;
        if (k == n) return true;
    }
    return false;
}

// The reader on a heap copy of exactly the text's bytes.
uint32_t lookup(const std::string& text, const char* section, const char* key, int32_t def) {
    std::unique_ptr<char[]> copy(new char[text.empty() ? 1 : text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    return profileReadInt(copy.get(), text.size(), section, key, def);
}

bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

std::string trimmed(std::string s) {
    while (!s.empty() && isBlank(s.front())) s.erase(s.begin());
    while (!s.empty() && isBlank(s.back())) s.pop_back();
    return s;
}

std::string lowered(std::string s) {
    for (char& c : s) c = (char)std::tolower((unsigned char)c);
    return s;
}

// A name or a value as a string: up to its first NUL.
std::string untilNul(const std::string& s) { return s.substr(0, s.find('\0')); }

// The text as Windows decodes it: a UTF-8 byte-order mark is dropped, and after a
// UTF-16 one each code unit is one character (those beyond ASCII as 0x80).
std::string decoded(const std::string& text) {
    const bool le = text.size() >= 2 && text[0] == '\xFF' && text[1] == '\xFE';
    const bool be = text.size() >= 2 && text[0] == '\xFE' && text[1] == '\xFF';
    if (!le && !be) return text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
    std::string out;
    for (size_t i = 2; i + 1 < text.size(); i += 2) {
        const unsigned unit = le ? (unsigned char)text[i] | (unsigned char)text[i + 1] << 8
                                 : (unsigned char)text[i] << 8 | (unsigned char)text[i + 1];
        out += unit < 0x80 ? (char)unit : '\x80';
    }
    return out;
}

// The model's answer: whether `key` stands in the first section named `section`
// (lines end at LF or CR; a header's name runs to the line's last ']'; a line
// without '=' is a key without a value), and its value text, trimmed.
bool modelFind(const std::string& raw, const char* section, const char* key, bool* hasValue,
               std::string* value) {
    const std::string text = decoded(raw);
    bool inSection = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (line.empty() || line[0] == ';') continue;
        if (line[0] == '[' && line.rfind(']') != 0 && line.rfind(']') != std::string::npos) {
            if (inSection) return false;
            const std::string name = untilNul(trimmed(line.substr(1, line.rfind(']') - 1)));
            inSection = lowered(name) == lowered(section);
            continue;
        }
        if (!inSection) continue;
        const size_t eq = line.find('=');
        if (lowered(untilNul(trimmed(line.substr(0, eq)))) != lowered(key)) continue;
        *hasValue = eq != std::string::npos;
        if (*hasValue) *value = trimmed(line.substr(eq + 1));
        return true;
    }
    return false;
}

// What GetPrivateProfileIntA gives for a value's (trimmed) text: the default when
// it is empty (after its quotes), otherwise its integer.
uint32_t expectedValue(std::string v, int32_t def) {
    v = untilNul(v);
    // Copied into a buffer of 30 characters with its NUL; after a quoted value the
    // last character copied goes (the closing quote when it fitted).
    const bool quoted = v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front();
    if (quoted) v.erase(v.begin());
    const size_t whole = v.size();
    if (v.size() > 29) v.resize(29);
    if (quoted && whole <= 30) v.pop_back();
    if (v.empty()) return (uint32_t)def;
    size_t i = 0;
    while (i < v.size() && (unsigned char)v[i] <= ' ') ++i;
    bool negative = false;
    if (i < v.size() && (v[i] == '-' || v[i] == '+')) negative = v[i++] == '-';
    uint64_t base = 10;
    if (v.size() - i >= 2 && v[i] == '0' && (v[i + 1] == 'x' || v[i + 1] == 'o' || v[i + 1] == 'b')) {
        base = v[i + 1] == 'x' ? 16 : v[i + 1] == 'o' ? 8 : 2;
        i += 2;
    }
    uint64_t value = 0;
    for (; i < v.size(); ++i) {
        const char c = v[i];
        uint64_t d = 99;
        if (std::isdigit((unsigned char)c))
            d = (uint64_t)(c - '0');
        else if (std::isalpha((unsigned char)c))
            d = (uint64_t)(std::tolower((unsigned char)c) - 'a' + 10);
        if (d >= base) break;
        value = (value * base + d) & 0xFFFFFFFFu;
    }
    return negative ? (uint32_t)(0u - (uint32_t)value) : (uint32_t)value;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 6) return 0;
    const uint8_t choice = data[0];
    const char* section = Sections[data[0] & 3];
    const char* key = Keys[(data[0] >> 2) & 7];
    int32_t def;
    std::memcpy(&def, data + 1, sizeof def);
    size_t valueLength = data[5];
    data += 6;
    size -= 6;
    if (valueLength > size) valueLength = size;
    std::string value((const char*)data, valueLength);
    const std::string text((const char*)data + valueLength, size - valueLength);

    const uint32_t got = lookup(text, section, key, def);

    // The text call, into a buffer of a size the default chooses (a heap copy of it,
    // so that a write past it is seen).
    const uint32_t outSize = (uint32_t)def & 63;
    std::unique_ptr<char[]> out(new char[outSize ? outSize : 1]);
    std::unique_ptr<char[]> copy(new char[text.empty() ? 1 : text.size()]);
    std::memcpy(copy.get(), text.data(), text.size());
    const uint32_t copied = profileReadString(copy.get(), text.size(), section, key, "", out.get(), outSize);
    if (outSize > 0)
        FUZZ_CHECK(copied < outSize && std::strlen(out.get()) == copied, "[%s] %s: %u copied into %u bytes",
                   section, key, copied, outSize);
    else
        FUZZ_CHECK(copied == 0, "[%s] %s: %u copied into no buffer", section, key, copied);
    // The plug-in's reading of the text, for a setting of each kind: a value the
    // integer call reads as a number other than the default is a number to it too,
    // and so read; no text is the default.
    char read[SettingTextBytes];
    profileReadString(copy.get(), text.size(), section, key, "", read, sizeof read);
    const int setting = (choice >> 5) % SettingsKeys;
    const int32_t fallback = SettingKeys[setting].fallback;
    const uint32_t number = lookup(text, section, key, fallback);
    SettingReading reading;
    const uint32_t settled = settingValueOf(setting, read, number, &reading);
    if (number != 0 && number != (uint32_t)fallback)
        FUZZ_CHECK(reading == SettingFromNumber && settled == number,
                   "[%s] %s=\"%s\": the integer call reads %u, the plug-in %u", section, key, read, number,
                   settled);
    if (reading == SettingMissing || reading == SettingNotUnderstood)
        FUZZ_CHECK(settled == (uint32_t)fallback, "[%s] %s=\"%s\" gives no number, yet reads %u", section,
                   key, read, settled);
    FUZZ_CHECK(lookup(text, section, key, def) == got, "two lookups of \"%s\" differ", key);
    if (!containsIgnoringCase(decoded(text), key) || !containsIgnoringCase(decoded(text), section))
        FUZZ_CHECK(got == (uint32_t)def, "[%s] %s is not in the text, yet reads %u instead of the default %d",
                   section, key, got, def);
    const int32_t otherDef = (int32_t) ~(uint32_t)def;
    const uint32_t withOtherDef = lookup(text, section, key, otherDef);
    if (withOtherDef != got)
        FUZZ_CHECK(got == (uint32_t)def && withOtherDef == (uint32_t)otherDef,
                   "[%s] %s reads %u with default %d and %u with default %d", section, key, got, def,
                   withOtherDef, otherDef);

    bool hasValue = false;
    std::string modelValue;
    if (modelFind(text, section, key, &hasValue, &modelValue)) {
        const uint32_t want = hasValue ? expectedValue(modelValue, def) : (uint32_t)def;
        FUZZ_CHECK(got == want, "[%s] %s=\"%s\" reads %u, expected %u", section, key, modelValue.c_str(), got,
                   want);
    } else {
        FUZZ_CHECK(got == (uint32_t)def, "[%s] %s is missing, yet reads %u instead of the default %d",
                   section, key, got, def);
    }

    // The same text behind a section header and the key with the chosen value.
    const size_t lineEnd = value.find_first_of("\r\n");
    if (lineEnd != std::string::npos) value.resize(lineEnd);
    const std::string front = std::string("[") + section + "]\n" + key + "=" + value + "\n";
    const uint32_t first = lookup(front + text, section, key, def);
    const uint32_t want = expectedValue(trimmed(value), def);
    FUZZ_CHECK(first == want, "[%s] %s=\"%s\" reads %u, expected %u", section, key, value.c_str(), first,
               want);
    return 0;
}
