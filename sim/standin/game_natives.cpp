// The natives the model knows, the reading of their text arguments, and the
// one-line description of a call for traces.
#include "standin/host_internals.h"

#include <algorithm>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sim {

namespace {

// By role; sorted by hash at first use. Argument and result kinds as in sim.h.
const NativeInfo Known[] = {
    // The script loop and the frame.
    {0xB15CD1CF58771DE1, "out_of_play", "", 'i'},
    {0x096275889B8E0EE0, "player_ped", "", 'i'},
    {0x4F67E8ECA7D3F667, "game_timer", "", 'i'},
    // The drink prompt's guards and the player's condition.
    {0xA571D46727E2B718, "prompt_guard", "i", 'i'},
    {0x50F940259D3841E6, "control_query", "iu", 'i'},
    {0x4A123E85D7C4CA0B, "effect_running", "s", 'i'},
    {0x01FEE67DB37F59B2, "player_condition", "i", 'i'},
    // Prompts.
    {0x04F97DE45A519419, "prompt_begin", "", 'i'},
    {0xB5352B7494A08258, "prompt_control", "iu", 'v'},
    {0xFA925AC00EB830B9, "label_text", "iss", 'x'},
    {0x5DD02A8318420DD7, "prompt_label", "ix", 'v'},
    {0x94073D5CA3F16B7B, "prompt_option_a", "ii", 'v'},
    {0xCA24F528D0D16289, "prompt_option_b", "ii", 'v'},
    {0x71215ACCFDE075EE, "prompt_option_c", "ii", 'v'},
    {0x8A0FB4D03A630D21, "prompt_option_d", "ii", 'v'},
    {0xB796970BD125FCE8, "ped_prompt_group", "i", 'i'},
    {0x2F11D3A254169EA4, "prompt_set_group", "igi", 'v'},
    {0xF7AA2696A22AD8B9, "prompt_finish", "i", 'v'},
    {0xE0F65F0640EF0617, "prompt_completed", "i", 'i'},
    {0x00EDE88D4D13CF59, "prompt_delete", "i", 'v'},
    // The drinking scenario.
    {0xE1EF3C1216AFF2CD, "clear_tasks", "iii", 'v'},
    {0x524B54361229154F, "scenario_start", "iuiixfi", 'v'},
    {0x34D6AC1157C8226C, "scenario_running", "iu", 'i'},
    {0xFD340785ADF8CFB7, "scenario_hash", "s", 'u'},
    {0xEC3C9B8D5327B563, "control_value", "iu", 'f'},
    // Texture dictionaries and sprites.
    {0xBE72591D1509FFE4, "texture_loaded", "u", 'i'},
    {0xC1BA29DF5631B0F8, "texture_request", "si", 'v'},
    {0xC9884ECADE94CB34, "draw_sprite", "ssfffffiiiii", 'v'},
    // Intoxication and the player's health.
    {0x8899C244EBCF70DE, "healing_rate_1", "if", 'v'},
    {0xFECA17CF3343694B, "healing_rate_2", "if", 'v'},
    {0x78FD8BE812E436B2, "game_clock", "", 'i'},
    {0x675680D089BFA21F, "restore_ped", "if", 'v'},
    {0x15D757606D170C3C, "ped_value", "ii", 'i'},
    {0xAC2767ED8BDFAB15, "set_ped_value", "iii", 'v'},
    {0xC6258F41D86676E0, "set_core_value", "iii", 'v'},
    {0x936F967D4BE1CE9D, "deadeye_condition", "i", 'i'},
    {0xFE99B66D079CF6BC, "hold_control_off", "iub", 'v'},
    // Saloons and bartenders.
    {0xB417689857646F61, "interior", "i", 'i'},
    {0x3EE1F7A8C32F24E1, "targeted_ped", "ipbb", 'i'},
    {0xDA76A9F39210D365, "entity_model", "i", 'u'},
    {0xA86D5F069399F44D, "entity_position", "ibb", 'P'},
    {0x2A488C176D52CCA5, "distance", "ffffff", 'f'},
    // The refill.
    {0x4D51E59243281D80, "player_control", "ibii", 'v'},
    {0x8E04FEDD28D42462, "speak", "ir", 'v'},
    {0x40C719A5E410B9E4, "fade_out", "i", 'v'},
    {0x6A053CF596F67DF7, "fade_in", "i", 'v'},
    {0x466BC8769CF26A7A, "take_cash", "i", 'v'},
};

const std::vector<NativeInfo>& table() {
    static const std::vector<NativeInfo> sorted = [] {
        std::vector<NativeInfo> v(std::begin(Known), std::end(Known));
        std::sort(v.begin(), v.end(),
                  [](const NativeInfo& a, const NativeInfo& b) { return a.hash < b.hash; });
        return v;
    }();
    return sorted;
}

void append(std::string& out, const char* format, ...) {
    char b[256];
    va_list ap;
    va_start(ap, format);
    vsnprintf(b, sizeof b, format, ap);
    va_end(ap);
    out += b;
}

void appendArgument(std::string& out, char kind, const Call& c, int k) {
    const uint64_t v = c.args[k];
    switch (kind) {
    case 'i':
        append(out, "%" PRId32, c.i32(k));
        break;
    case 'u':
        append(out, "0x%08" PRIX32, c.u32(k));
        break;
    case 'b':
        append(out, "%" PRIu32, c.u32(k));
        break;
    case 'f':
        append(out, "%g", (double)c.f32(k));
        break;
    case 's':
        out += '"', out += c.text[k], out += '"';
        break;
    case 'r':
        out += c.text[k];
        break;
    case 'p':
        append(out, "&0x%" PRIX64, v);
        break;
    case 'g':
        append(out, "%" PRId64, (int64_t)v);
        break;
    default:
        append(out, "0x%016" PRIX64, v);
        break;
    }
}

} // namespace

float floatOf(uint64_t cell) {
    const uint32_t bits = (uint32_t)cell;
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

float Call::f32(int k) const { return floatOf(args[k]); }
float Call::resultFloat() const { return floatOf(result[0]); }

Sprite spriteOf(const Call& c) {
    Sprite s;
    s.dictionary = c.text[0];
    s.texture = c.text[1];
    s.x = c.f32(2);
    s.y = c.f32(3);
    s.width = c.f32(4);
    s.height = c.f32(5);
    s.rotation = c.f32(6);
    s.red = c.i32(7);
    s.green = c.i32(8);
    s.blue = c.i32(9);
    s.alpha = c.i32(10);
    s.last = c.i32(11);
    return s;
}

const std::vector<NativeInfo>& natives() { return table(); }

const NativeInfo* findNative(uint64_t hash) {
    const std::vector<NativeInfo>& t = table();
    auto it = std::lower_bound(t.begin(), t.end(), hash,
                               [](const NativeInfo& n, uint64_t h) { return n.hash < h; });
    return it != t.end() && it->hash == hash ? &*it : nullptr;
}

std::string describe(const Call& c) {
    std::string out;
    append(out, "frame %d  ", c.frame);
    switch (c.kind) {
    case CallKind::Native: {
        const NativeInfo* info = findNative(c.hash);
        append(out, "0x%016" PRIX64 " %s(", c.hash, info ? info->name : "unknown");
        const size_t known = info ? strlen(info->args) : 0;
        for (int k = 0; k < c.argc; ++k) {
            if (k) out += ", ";
            appendArgument(out, (size_t)k < known ? info->args[k] : 'x', c, k);
        }
        out += ')';
        const char result = info ? info->result : 'x';
        switch (result) {
        case 'v':
            break;
        case 'i':
            append(out, " -> %" PRId32, c.resultInt());
            break;
        case 'u':
            append(out, " -> 0x%08" PRIX32, (uint32_t)c.result[0]);
            break;
        case 'f':
            append(out, " -> %g", (double)c.resultFloat());
            break;
        case 'P':
            append(out, " -> (%g, %g, %g)", (double)floatOf(c.result[0]), (double)floatOf(c.result[1]),
                   (double)floatOf(c.result[2]));
            break;
        default:
            append(out, " -> 0x%016" PRIX64, c.result[0]);
            break;
        }
        break;
    }
    case CallKind::Wait:
        append(out, "scriptWait(%" PRIu32 ")", c.waitMs);
        break;
    case CallKind::GlobalPtr:
        append(out, "getGlobalPtr(%" PRId32 ") -> 0x%" PRIX64, c.globalIndex, c.pointer);
        break;
    case CallKind::ScriptRegister:
        append(out, "scriptRegister(module 0x%" PRIX64 ", script 0x%" PRIX64 ")", c.pointer, c.args[0]);
        break;
    case CallKind::ScriptUnregister:
        append(out, "scriptUnregister(module 0x%" PRIX64 ")", c.pointer);
        break;
    case CallKind::KeyboardRegister:
        append(out, "keyboardHandlerRegister(0x%" PRIX64 ")", c.pointer);
        break;
    case CallKind::KeyboardUnregister:
        append(out, "keyboardHandlerUnregister(0x%" PRIX64 ")", c.pointer);
        break;
    }
    return out;
}

namespace detail {

// The speech record: eight 8-byte slots, the line's and the voice's names first.
static void readSpeechRecord(uint64_t address, std::string& out) {
    out.clear();
    if (!address) return;
    uint64_t slots[8];
    memcpy(slots, (const void*)(uintptr_t)address, sizeof slots);
    out += '{';
    for (int k = 0; k < 8; ++k) {
        if (k) out += ", ";
        if (k < 2) {
            const char* s = (const char*)(uintptr_t)slots[k];
            out += '"';
            if (s) out += s;
            out += '"';
        } else if (k == 3) {
            append(out, "0x%08" PRIX32, (uint32_t)slots[k]);
        } else {
            append(out, "%" PRId32, (int32_t)(uint32_t)slots[k]);
        }
    }
    out += '}';
}

void readTextArguments(const NativeInfo& info, Call& c) {
    for (int k = 0; k < c.argc && info.args[k] != '\0'; ++k) {
        if (info.args[k] == 's') {
            const char* s = (const char*)(uintptr_t)c.args[k];
            if (s)
                c.text[k].assign(s);
            else
                c.text[k].clear();
        } else if (info.args[k] == 'r') {
            readSpeechRecord(c.args[k], c.text[k]);
        }
    }
}

} // namespace detail

} // namespace sim
