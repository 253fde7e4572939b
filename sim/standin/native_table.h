// The game's natives the plug-in calls, each in one place: its hash, a name for
// it, the role the tools call it by (traces, a recording's dump), the kinds of its
// arguments and the kind of its result. The plug-in writes each hash at its call
// site, for it stands alone; the stand-in host, the replay, the stress tools, the
// session player, the tests and the benchmarks take it from here, by name. The
// suite holds the two together: no 16-digit hash is written anywhere else, and this
// table and src/ name the same hashes (tests/natives/check_natives.sh).
//
// A header of constants only, so that whatever reads it links nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace natives {

// By role, in the order a frame meets them.
// The script loop and the frame.
inline constexpr uint64_t OutOfPlay = 0xB15CD1CF58771DE1;
inline constexpr uint64_t PlayerPed = 0x096275889B8E0EE0;
inline constexpr uint64_t GameTimer = 0x4F67E8ECA7D3F667;
// The drink prompt's guards and the player's condition.
inline constexpr uint64_t PromptGuard = 0xA571D46727E2B718;
inline constexpr uint64_t ControlQuery = 0x50F940259D3841E6;
inline constexpr uint64_t EffectRunning = 0x4A123E85D7C4CA0B;
inline constexpr uint64_t PlayerCondition = 0x01FEE67DB37F59B2;
// Prompts.
inline constexpr uint64_t PromptBegin = 0x04F97DE45A519419;
inline constexpr uint64_t PromptControl = 0xB5352B7494A08258;
inline constexpr uint64_t LabelText = 0xFA925AC00EB830B9;
inline constexpr uint64_t PromptLabel = 0x5DD02A8318420DD7;
inline constexpr uint64_t PromptOptionA = 0x94073D5CA3F16B7B;
inline constexpr uint64_t PromptOptionB = 0xCA24F528D0D16289;
inline constexpr uint64_t PromptOptionC = 0x71215ACCFDE075EE;
inline constexpr uint64_t PromptOptionD = 0x8A0FB4D03A630D21;
inline constexpr uint64_t PedPromptGroup = 0xB796970BD125FCE8;
inline constexpr uint64_t PromptSetGroup = 0x2F11D3A254169EA4;
inline constexpr uint64_t PromptFinish = 0xF7AA2696A22AD8B9;
inline constexpr uint64_t PromptCompleted = 0xE0F65F0640EF0617;
inline constexpr uint64_t PromptDelete = 0x00EDE88D4D13CF59;
// The drinking scenario.
inline constexpr uint64_t ClearTasks = 0xE1EF3C1216AFF2CD;
inline constexpr uint64_t ScenarioStart = 0x524B54361229154F;
inline constexpr uint64_t ScenarioRunning = 0x34D6AC1157C8226C;
inline constexpr uint64_t ScenarioHash = 0xFD340785ADF8CFB7;
inline constexpr uint64_t ControlValue = 0xEC3C9B8D5327B563;
// Texture dictionaries and sprites.
inline constexpr uint64_t TextureLoaded = 0xBE72591D1509FFE4;
inline constexpr uint64_t TextureRequest = 0xC1BA29DF5631B0F8;
inline constexpr uint64_t DrawSprite = 0xC9884ECADE94CB34;
// Intoxication and the player's health.
inline constexpr uint64_t HealingRate1 = 0x8899C244EBCF70DE;
inline constexpr uint64_t HealingRate2 = 0xFECA17CF3343694B;
inline constexpr uint64_t GameClock = 0x78FD8BE812E436B2;
inline constexpr uint64_t RestorePed = 0x675680D089BFA21F;
inline constexpr uint64_t PedValue = 0x15D757606D170C3C;
inline constexpr uint64_t SetPedValue = 0xAC2767ED8BDFAB15;
inline constexpr uint64_t SetCoreValue = 0xC6258F41D86676E0;
inline constexpr uint64_t DeadeyeCondition = 0x936F967D4BE1CE9D;
inline constexpr uint64_t HoldControlOff = 0xFE99B66D079CF6BC;
// Saloons and bartenders.
inline constexpr uint64_t Interior = 0xB417689857646F61;
inline constexpr uint64_t TargetedPed = 0x3EE1F7A8C32F24E1;
inline constexpr uint64_t EntityModel = 0xDA76A9F39210D365;
inline constexpr uint64_t EntityPosition = 0xA86D5F069399F44D;
inline constexpr uint64_t Distance = 0x2A488C176D52CCA5;
// The refill.
inline constexpr uint64_t PlayerControl = 0x4D51E59243281D80;
inline constexpr uint64_t Speak = 0x8E04FEDD28D42462;
inline constexpr uint64_t FadeOut = 0x40C719A5E410B9E4;
inline constexpr uint64_t FadeIn = 0x6A053CF596F67DF7;
inline constexpr uint64_t TakeCash = 0x466BC8769CF26A7A;

// A native: its hash, its role, and the kinds of its arguments, one letter each:
//   i int32   u uint32 hash   b boolean   f float   s string   p out-variable address
//   r speech record address   x whole 64-bit value   g sign-extended 32-bit value
// and of its result: 'v' none, 'i' int32, 'u' hash, 'f' float, 'x' 64-bit, 'P' position.
struct Native {
    uint64_t hash;
    const char* role; // the tools' name of it: "game_timer"
    const char* args;
    char result;
};

// One record a native, in the order of the names above.
inline constexpr Native Table[] = {
    {OutOfPlay, "out_of_play", "", 'i'},
    {PlayerPed, "player_ped", "", 'i'},
    {GameTimer, "game_timer", "", 'i'},
    {PromptGuard, "prompt_guard", "i", 'i'},
    {ControlQuery, "control_query", "iu", 'i'},
    {EffectRunning, "effect_running", "s", 'i'},
    {PlayerCondition, "player_condition", "i", 'i'},
    {PromptBegin, "prompt_begin", "", 'i'},
    {PromptControl, "prompt_control", "iu", 'v'},
    {LabelText, "label_text", "iss", 'x'},
    {PromptLabel, "prompt_label", "ix", 'v'},
    {PromptOptionA, "prompt_option_a", "ii", 'v'},
    {PromptOptionB, "prompt_option_b", "ii", 'v'},
    {PromptOptionC, "prompt_option_c", "ii", 'v'},
    {PromptOptionD, "prompt_option_d", "ii", 'v'},
    {PedPromptGroup, "ped_prompt_group", "i", 'i'},
    {PromptSetGroup, "prompt_set_group", "igi", 'v'},
    {PromptFinish, "prompt_finish", "i", 'v'},
    {PromptCompleted, "prompt_completed", "i", 'i'},
    {PromptDelete, "prompt_delete", "i", 'v'},
    {ClearTasks, "clear_tasks", "iii", 'v'},
    {ScenarioStart, "scenario_start", "iuiixfi", 'v'},
    {ScenarioRunning, "scenario_running", "iu", 'i'},
    {ScenarioHash, "scenario_hash", "s", 'u'},
    {ControlValue, "control_value", "iu", 'f'},
    {TextureLoaded, "texture_loaded", "u", 'i'},
    {TextureRequest, "texture_request", "si", 'v'},
    {DrawSprite, "draw_sprite", "ssfffffiiiii", 'v'},
    {HealingRate1, "healing_rate_1", "if", 'v'},
    {HealingRate2, "healing_rate_2", "if", 'v'},
    {GameClock, "game_clock", "", 'i'},
    {RestorePed, "restore_ped", "if", 'v'},
    {PedValue, "ped_value", "ii", 'i'},
    {SetPedValue, "set_ped_value", "iii", 'v'},
    {SetCoreValue, "set_core_value", "iii", 'v'},
    {DeadeyeCondition, "deadeye_condition", "i", 'i'},
    {HoldControlOff, "hold_control_off", "iub", 'v'},
    {Interior, "interior", "i", 'i'},
    {TargetedPed, "targeted_ped", "ipbb", 'i'},
    {EntityModel, "entity_model", "i", 'u'},
    {EntityPosition, "entity_position", "ibb", 'P'},
    {Distance, "distance", "ffffff", 'f'},
    {PlayerControl, "player_control", "ibii", 'v'},
    {Speak, "speak", "ir", 'v'},
    {FadeOut, "fade_out", "i", 'v'},
    {FadeIn, "fade_in", "i", 'v'},
    {TakeCash, "take_cash", "i", 'v'},
};
inline constexpr size_t Count = sizeof Table / sizeof Table[0];

namespace detail {

constexpr bool sameText(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool isArgumentKind(char c) {
    for (const char* k = "iubfsprxg"; *k; ++k)
        if (*k == c) return true;
    return false;
}

constexpr bool isResultKind(char c) {
    for (const char* k = "viufxP"; *k; ++k)
        if (*k == c) return true;
    return false;
}

constexpr bool wellFormed() {
    for (size_t i = 0; i < Count; ++i) {
        const Native& n = Table[i];
        size_t argc = 0;
        for (const char* a = n.args; *a; ++a, ++argc)
            if (!isArgumentKind(*a)) return false;
        if (argc > 12) return false; // a call takes at most 12 argument slots
        if (!isResultKind(n.result)) return false;
        for (size_t j = 0; j < i; ++j)
            if (Table[j].hash == n.hash || sameText(Table[j].role, n.role)) return false;
    }
    return true;
}

} // namespace detail

static_assert(detail::wellFormed(), "each native once, with one role of its own and kinds the tools know");

} // namespace natives
