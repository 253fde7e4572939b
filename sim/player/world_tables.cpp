// The world's tables (world_tables.h): one place for every name a scenario gives a
// thing of the game, and the values the game knows it by.
#include "player/world_tables.h"

#include <iterator>

namespace player {

const std::vector<Saloon>& saloons() {
    // Labelled by the town in each bartender's voice name; Saint Denis has two.
    static const std::vector<Saloon> table = {
        {"tumbleweed", 5634, "1087_U_M_M_TUMBARTENDER_01", 0xD31B229F},
        {"valentine", 21250, "0475_U_M_M_VALBARTENDER_01", 0xB733CF0F},
        {"saint-denis-2", 37378, "0312_U_M_M_NBXBARTENDER_02", 0x0D1298F7},
        {"van-horn", 39426, "1038_U_F_M_VHTBARTENDER_01", 0x3E471440},
        {"blackwater", 41218, "0080_U_M_O_BLWBARTENDER_01", 0x8E81C857},
        {"saint-denis", 53762, "0311_U_M_M_NBXBARTENDER_01", 0x1EE53C9C},
        {"rhodes", 54274, "0397_U_M_M_RHDBARTENDER_01", 0x23DA7E9F},
        {"armadillo", 56834, "1077_U_M_O_ARMBARTENDER_01", 0xDD6D1B34},
    };
    return table;
}

const Saloon* findSaloon(std::string_view name) {
    for (const Saloon& s : saloons())
        if (name == s.name) return &s;
    return nullptr;
}

const Saloon* saloonAt(int32_t interior) {
    for (const Saloon& s : saloons())
        if (interior == s.interior) return &s;
    return nullptr;
}

const std::vector<Knob>& knobs() {
    static const std::vector<Knob> table = {
        {"on-foot", KnobType::Integer,
         "IS_PED_ON_FOOT's answer for the player (0, mounted: no drink prompt, no drink starts)"},
        {"keyboard-and-mouse", KnobType::Integer,
         "IS_USING_KEYBOARD_AND_MOUSE's answer (non-zero: the drink prompt is left as it is)"},
        {"hud-wheel", KnobType::Switch, "the \"WheelHUDIn\" effect runs (holds the drink prompt as it is)"},
        {"free-aiming", KnobType::Integer,
         "IS_PLAYER_FREE_AIMING's answer (0: the deadeye lock holds nothing off)"},
        {"scenario-start-frames", KnobType::Integer, "frames the drinking scenario takes to start"},
        {"scenario-never-starts", KnobType::Switch, "the drinking scenario never starts"},
        {"texture-load-frames", KnobType::Integer, "frames a requested texture dictionary takes to load"},
        {"auto-pass-out", KnobType::Switch, "the game passes the player out after intensity 1.0 for a while"},
        {"pass-out-after", KnobType::Duration,
         "how long intensity 1.0 lasts before the game passes the player out"},
        {"pass-out-duration", KnobType::Duration, "how long the pass-out effect runs"},
        {"pass-out-effect", KnobType::Switch,
         "the pass-out effect runs (set by hand; use with auto-pass-out off)"},
        {"distance-nan", KnobType::Switch, "the distance query answers not-a-number"},
        {"player-handle", KnobType::Integer, "PLAYER_PED_ID's answer: the player character's handle"},
        {"max-health", KnobType::Integer, "GET_ENTITY_MAX_HEALTH's answer for the player"},
        {"textures-loaded", KnobType::Switch,
         "the meters' texture dictionaries are all loaded (on), or none is (off: asked for again)"},
    };
    return table;
}

namespace {

const NamedHash PlayerModels[] = {{"arthur", 0x0D7114C9}, {"john", 0x00B69710}};
// INPUT_MOVE_UD and INPUT_MOVE_LR: moving ends a drink.
const NamedHash StopControls[] = {{"stop", 0xFDA83190}, {"stop-alt", 0x4D8FB4C1}};

const NamedHash* findNamed(const NamedHash* begin, const NamedHash* end, std::string_view name) {
    for (const NamedHash* n = begin; n != end; ++n)
        if (name == n->name) return n;
    return nullptr;
}

} // namespace

const NamedHash* findPlayerModel(std::string_view name) {
    return findNamed(std::begin(PlayerModels), std::end(PlayerModels), name);
}

const NamedHash* findStopControl(std::string_view name) {
    return findNamed(std::begin(StopControls), std::end(StopControls), name);
}

const std::vector<std::string_view>& speechLines() {
    static const std::vector<std::string_view> lines = {"CHAT_PREPARE_DRINK", "PLAYER_SHOP_THANKS_NEUTRAL"};
    return lines;
}

} // namespace player
