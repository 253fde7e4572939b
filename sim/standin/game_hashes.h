// The 32-bit hashes the plug-in passes to the game or compares with its answers,
// each by the game's own name: the controls, the drinking scenario, the meters'
// texture dictionaries, the player's and the bartenders' ped models. Each is the
// game's hash of its name, the Jenkins one-at-a-time hash of the name in lower case
// (tests/natives/name_hash_test.cpp proves them all), and the plug-in passes no other
// (tests/natives/check_natives.sh). The tools print a hash of this table by its name.
//
// Copied from the game's published script interface: the community's native
// database, and its public list of ped models. A constant's C++ name is the game's
// name in CamelCase.
//
// Not published, so not here: the interiors of the saloons (numbers, not hashes),
// and the name of the speech parameter hash the refill passes (0x67F3AB43).
//
// A header of constants only, so that whatever reads it links nothing.
#pragma once

#include <cstddef>
#include <cstdint>

namespace hashes {

// Controls.
inline constexpr uint32_t InputOpenSatchelMenu = 0x4CC0E2FE;
inline constexpr uint32_t InputInteractOption2 = 0x84543902;
inline constexpr uint32_t InputMoveUd = 0xFDA83190;
inline constexpr uint32_t InputMoveLr = 0x4D8FB4C1;
inline constexpr uint32_t InputSpecialAbility = 0xCEE12B50;
inline constexpr uint32_t InputSpecialAbilitySecondary = 0x6328239B;
// The drinking scenario.
inline constexpr uint32_t WorldHumanDrinkFlask = 0x4CA3FEA4;
// The meters' texture dictionaries.
inline constexpr uint32_t RpgMeter = 0xC5CE55E0;
inline constexpr uint32_t Blips = 0xE5EBC699;
inline constexpr uint32_t RpgTextures = 0x63B3DF31;
inline constexpr uint32_t InventoryItems = 0xDF68C3A6;
// The player's and the bartenders' models.
inline constexpr uint32_t PlayerZero = 0x0D7114C9;
inline constexpr uint32_t PlayerThree = 0x00B69710;
inline constexpr uint32_t UMMTumbartender01 = 0xD31B229F;
inline constexpr uint32_t UMMValbartender01 = 0xB733CF0F;
inline constexpr uint32_t UMMNbxbartender02 = 0x0D1298F7;
inline constexpr uint32_t UFMVhtbartender01 = 0x3E471440;
inline constexpr uint32_t UMOBlwbartender01 = 0x8E81C857;
inline constexpr uint32_t UMMNbxbartender01 = 0x1EE53C9C;
inline constexpr uint32_t UMMRhdbartender01 = 0x23DA7E9F;
inline constexpr uint32_t UMOArmbartender01 = 0xDD6D1B34;

// A constant: what kind of thing it names, the game's name, its hash, and what it is
// to the plug-in.
struct Constant {
    const char* kind; // "control", "scenario", "texture dictionary", "ped model"
    const char* name; // the game's name: "INPUT_MOVE_UD"
    uint32_t hash;
    const char* note;
};

inline constexpr Constant Table[] = {
    {"control", "INPUT_OPEN_SATCHEL_MENU", InputOpenSatchelMenu,
     "its release toggles the drink prompt (controller only)"},
    {"control", "INPUT_INTERACT_OPTION2", InputInteractOption2, "operates the drink and refill prompts"},
    {"control", "INPUT_MOVE_UD", InputMoveUd, "moving forward or back stops a drink"},
    {"control", "INPUT_MOVE_LR", InputMoveLr, "moving left or right stops a drink"},
    {"control", "INPUT_SPECIAL_ABILITY", InputSpecialAbility, "Dead Eye, held off by the lock"},
    {"control", "INPUT_SPECIAL_ABILITY_SECONDARY", InputSpecialAbilitySecondary,
     "Dead Eye's second control, held off by the lock"},
    {"scenario", "WORLD_HUMAN_DRINK_FLASK", WorldHumanDrinkFlask, "the drinking animation"},
    {"texture dictionary", "RPG_METER", RpgMeter, "the meters' rings, RPG_METER_0 to RPG_METER_99"},
    {"texture dictionary", "BLIPS", Blips, "the intoxication meter's icon"},
    {"texture dictionary", "RPG_TEXTURES", RpgTextures, "the meters' backgrounds"},
    {"texture dictionary", "INVENTORY_ITEMS", InventoryItems, "the flask meter's icon"},
    {"ped model", "PLAYER_ZERO", PlayerZero, "Arthur"},
    {"ped model", "PLAYER_THREE", PlayerThree, "John"},
    {"ped model", "U_M_M_TUMBARTENDER_01", UMMTumbartender01, "Tumbleweed's bartender"},
    {"ped model", "U_M_M_VALBARTENDER_01", UMMValbartender01, "Valentine's bartender"},
    {"ped model", "U_M_M_NBXBARTENDER_02", UMMNbxbartender02, "Saint Denis' second bartender"},
    {"ped model", "U_F_M_VHTBARTENDER_01", UFMVhtbartender01, "Van Horn's barmaid"},
    {"ped model", "U_M_O_BLWBARTENDER_01", UMOBlwbartender01, "Blackwater's bartender"},
    {"ped model", "U_M_M_NBXBARTENDER_01", UMMNbxbartender01, "Saint Denis' first bartender"},
    {"ped model", "U_M_M_RHDBARTENDER_01", UMMRhdbartender01, "Rhodes' bartender"},
    {"ped model", "U_M_O_ARMBARTENDER_01", UMOArmbartender01, "Armadillo's bartender"},
};
inline constexpr size_t Count = sizeof Table / sizeof Table[0];

// The constant of a hash; nullptr for a hash the table does not have.
constexpr const Constant* find(uint32_t hash) {
    for (const Constant& c : Table)
        if (c.hash == hash) return &c;
    return nullptr;
}

namespace detail {

constexpr bool sameText(const char* a, const char* b) {
    while (*a && *a == *b) ++a, ++b;
    return *a == *b;
}

constexpr bool eachOnce() {
    for (size_t i = 0; i < Count; ++i)
        for (size_t j = 0; j < i; ++j)
            if (Table[j].hash == Table[i].hash || sameText(Table[j].name, Table[i].name)) return false;
    return true;
}

} // namespace detail

static_assert(detail::eachOnce(), "each hash once, with a name of its own");

} // namespace hashes
