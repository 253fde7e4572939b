// The game's world as scenarios name it: the eight saloons with their bartenders,
// the knobs of the game model, the player's models and the controls that stop a
// drink. The scenario's reader takes the names, the session sets the world up from
// them, and the narration names the saloon the player is served in; none of them
// is the parser's.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace player {

// The eight saloons of the game, with the labels scenarios use for them.
struct Saloon {
    const char* name;   // "valentine"
    int32_t interior;   // the interior identifier the game reports inside it
    const char* voice;  // the bartender's voice
    uint32_t bartender; // the bartender's model hash
};
const std::vector<Saloon>& saloons();
const Saloon* findSaloon(std::string_view name);
const Saloon* saloonAt(int32_t interior);

// Named knobs of the game model, for `set NAME VALUE`.
enum class KnobType { Integer, Switch, Duration };
struct Knob {
    const char* name;
    KnobType type;
    const char* help;
};
const std::vector<Knob>& knobs();

// A thing of the game a scenario names, with the hash the game knows it by.
struct NamedHash {
    const char* name;
    uint32_t hash;
};
// The player's models, for `model arthur | john`.
const NamedHash* findPlayerModel(std::string_view name);
// The two controls that stop a drink (moving: INPUT_MOVE_UD, INPUT_MOVE_LR), for
// `press stop | stop-alt` and `move`.
const NamedHash* findStopControl(std::string_view name);

// The speech lines a session can hear: the bartender's as he serves
// (CHAT_PREPARE_DRINK) and the player's thanks (PLAYER_SHOP_THANKS_NEUTRAL). The
// plug-in has the game say no other, so `expect spoken` names one of these.
const std::vector<std::string_view>& speechLines();

} // namespace player
