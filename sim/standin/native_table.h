// The game's natives the plug-in calls, each in one place: its hash, the game's
// namespace and name of it, its signature as the game publishes it, what the plug-in
// asks it for, and the kinds of the arguments and of the result as the plug-in
// passes and reads them. The plug-in writes each hash at its call site, for it
// stands alone; the stand-in host, the replay, the stress tools, the session player,
// the tests and the benchmarks take it from here, by name. The suite holds the two
// together: no 16-digit hash is written anywhere else, and this table and src/ name
// the same hashes (tests/natives/check_natives.sh); every call the plug-in makes
// agrees with the signature here (tests/natives/signature_test.cpp).
//
// The names and signatures are copied from the game's published script interface:
// the community's native database, as script hooks' headers are generated from it.
// A constant's C++ name is the game's name in CamelCase, without its leading
// underscore (_UI_PROMPT_DELETE: UiPromptDelete).
//
// A header of constants only, so that whatever reads it links nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace natives {

// In the order a frame meets them.
// The script loop and the frame.
inline constexpr uint64_t GetMissionFlag = 0xB15CD1CF58771DE1;
inline constexpr uint64_t PlayerPedId = 0x096275889B8E0EE0;
inline constexpr uint64_t GetGameTimer = 0x4F67E8ECA7D3F667;
// The drink prompt's guards, and whether the player is on foot.
inline constexpr uint64_t IsUsingKeyboardAndMouse = 0xA571D46727E2B718;
inline constexpr uint64_t IsControlJustReleased = 0x50F940259D3841E6;
inline constexpr uint64_t AnimpostfxIsRunning = 0x4A123E85D7C4CA0B;
inline constexpr uint64_t IsPedOnFoot = 0x01FEE67DB37F59B2;
// Prompts.
inline constexpr uint64_t UiPromptRegisterBegin = 0x04F97DE45A519419;
inline constexpr uint64_t UiPromptSetControlAction = 0xB5352B7494A08258;
inline constexpr uint64_t VarString = 0xFA925AC00EB830B9;
inline constexpr uint64_t UiPromptSetText = 0x5DD02A8318420DD7;
inline constexpr uint64_t UiPromptSetHoldMode = 0x94073D5CA3F16B7B;
inline constexpr uint64_t UiPromptSetPriority = 0xCA24F528D0D16289;
inline constexpr uint64_t UiPromptSetVisible = 0x71215ACCFDE075EE;
inline constexpr uint64_t UiPromptSetEnabled = 0x8A0FB4D03A630D21;
inline constexpr uint64_t UiPromptGetGroupIdForTargetEntity = 0xB796970BD125FCE8;
inline constexpr uint64_t UiPromptSetGroup = 0x2F11D3A254169EA4;
inline constexpr uint64_t UiPromptRegisterEnd = 0xF7AA2696A22AD8B9;
inline constexpr uint64_t UiPromptHasHoldModeCompleted = 0xE0F65F0640EF0617;
inline constexpr uint64_t UiPromptDelete = 0x00EDE88D4D13CF59;
// The drinking scenario.
inline constexpr uint64_t ClearPedTasks = 0xE1EF3C1216AFF2CD;
inline constexpr uint64_t TaskStartScenarioInPlaceHash = 0x524B54361229154F;
inline constexpr uint64_t IsPedUsingScenarioHash = 0x34D6AC1157C8226C;
inline constexpr uint64_t GetHashKey = 0xFD340785ADF8CFB7;
inline constexpr uint64_t GetControlNormal = 0xEC3C9B8D5327B563;
// Texture dictionaries and sprites.
inline constexpr uint64_t HasStreamedTxdLoaded = 0xBE72591D1509FFE4;
inline constexpr uint64_t RequestStreamedTextureDict = 0xC1BA29DF5631B0F8;
inline constexpr uint64_t DrawSprite = 0xC9884ECADE94CB34;
// Intoxication and the player's health.
inline constexpr uint64_t SetPlayerHealthRechargeMultiplier = 0x8899C244EBCF70DE;
inline constexpr uint64_t SetPlayerStaminaRechargeMultiplier = 0xFECA17CF3343694B;
inline constexpr uint64_t GetSecondsSinceBaseYear = 0x78FD8BE812E436B2;
inline constexpr uint64_t RestorePedStamina = 0x675680D089BFA21F;
inline constexpr uint64_t GetEntityMaxHealth = 0x15D757606D170C3C;
inline constexpr uint64_t SetEntityHealth = 0xAC2767ED8BDFAB15;
inline constexpr uint64_t SetAttributeCoreValue = 0xC6258F41D86676E0;
inline constexpr uint64_t IsPlayerFreeAiming = 0x936F967D4BE1CE9D;
inline constexpr uint64_t DisableControlAction = 0xFE99B66D079CF6BC;
// Saloons and bartenders.
inline constexpr uint64_t GetInteriorFromEntity = 0xB417689857646F61;
inline constexpr uint64_t GetPlayerInteractionTargetEntity = 0x3EE1F7A8C32F24E1;
inline constexpr uint64_t GetEntityModel = 0xDA76A9F39210D365;
inline constexpr uint64_t GetEntityCoords = 0xA86D5F069399F44D;
inline constexpr uint64_t Vdist = 0x2A488C176D52CCA5;
// The refill.
inline constexpr uint64_t SetPlayerControl = 0x4D51E59243281D80;
inline constexpr uint64_t PlayPedAmbientSpeechNative = 0x8E04FEDD28D42462;
inline constexpr uint64_t DoScreenFadeOut = 0x40C719A5E410B9E4;
inline constexpr uint64_t DoScreenFadeIn = 0x6A053CF596F67DF7;
inline constexpr uint64_t MoneyDecrementCashBalance = 0x466BC8769CF26A7A;

// A native: its hash; the game's namespace and name; its parameters and its result
// as published ("" for no parameters; "..." for the rest of a variadic one); what the
// plug-in asks it for; and the kinds of the arguments as the plug-in passes them and
// the host reads them, one letter each:
//   i int32   u uint32 hash   b boolean   f float   s string   p out-variable address
//   r speech record address   x whole 64-bit value   g sign-extended 32-bit value
// and of the result as the plug-in reads it: 'v' none, 'i' int32, 'u' hash, 'f' float,
// 'x' 64-bit, 'P' position.
struct Native {
    uint64_t hash;
    const char* space;      // the game's namespace: "MISC"
    const char* name;       // the game's name: "GET_MISSION_FLAG"
    const char* parameters; // as published: "int control, Hash action"
    const char* returns;    // as published: "BOOL"
    const char* role;       // what it is to the plug-in, in a few words
    const char* args;
    char result;
};

// One record a native, in the order of the names above.
inline constexpr Native Table[] = {
    {GetMissionFlag, "MISC", "GET_MISSION_FLAG", "", "BOOL",
     "the script holds while a story mission is under way", "", 'i'},
    {PlayerPedId, "PLAYER", "PLAYER_PED_ID", "", "Ped", "the player's character, once a frame", "", 'i'},
    {GetGameTimer, "MISC", "GET_GAME_TIMER", "", "int", "the frame's time, in milliseconds", "", 'i'},
    {IsUsingKeyboardAndMouse, "PAD", "IS_USING_KEYBOARD_AND_MOUSE", "int control", "BOOL",
     "no drink prompt for a keyboard-and-mouse player", "i", 'i'},
    {IsControlJustReleased, "PAD", "IS_CONTROL_JUST_RELEASED", "int control, Hash action", "BOOL",
     "a release of the satchel control shows or hides the drink prompt", "iu", 'i'},
    {AnimpostfxIsRunning, "GRAPHICS", "ANIMPOSTFX_IS_RUNNING", "const char* effectName", "BOOL",
     "the selection wheel is up; the pass-out effect runs", "s", 'i'},
    {IsPedOnFoot, "PED", "IS_PED_ON_FOOT", "Ped ped", "BOOL", "no prompt and no drink on horseback", "i",
     'i'},
    {UiPromptRegisterBegin, "HUD", "_UI_PROMPT_REGISTER_BEGIN", "", "Prompt", "a prompt begins", "", 'i'},
    {UiPromptSetControlAction, "HUD", "_UI_PROMPT_SET_CONTROL_ACTION", "Prompt prompt, Hash action", "Any",
     "the control that operates a prompt", "iu", 'v'},
    {VarString, "MISC", "VAR_STRING", "int flags, ...", "const char*", "a prompt's label as the game's text",
     "iss", 'x'},
    {UiPromptSetText, "HUD", "_UI_PROMPT_SET_TEXT", "Prompt prompt, const char* text", "void",
     "a prompt's label", "ix", 'v'},
    {UiPromptSetHoldMode, "HUD", "_UI_PROMPT_SET_HOLD_MODE", "Prompt prompt, int holdTimeMs", "void",
     "a prompt is held to complete", "ii", 'v'},
    {UiPromptSetPriority, "HUD", "_UI_PROMPT_SET_PRIORITY", "Prompt prompt, int priority", "void",
     "a prompt's priority", "ii", 'v'},
    {UiPromptSetVisible, "HUD", "_UI_PROMPT_SET_VISIBLE", "Prompt prompt, BOOL toggle", "void",
     "a prompt is shown", "ii", 'v'},
    {UiPromptSetEnabled, "HUD", "_UI_PROMPT_SET_ENABLED", "Prompt prompt, BOOL toggle", "void",
     "a prompt is enabled", "ii", 'v'},
    {UiPromptGetGroupIdForTargetEntity, "HUD", "_UI_PROMPT_GET_GROUP_ID_FOR_TARGET_ENTITY", "Entity entity",
     "int", "the bartender's prompt group", "i", 'i'},
    {UiPromptSetGroup, "HUD", "_UI_PROMPT_SET_GROUP", "Prompt prompt, int groupId, int tabIndex", "void",
     "the refill prompt joins the bartender's group", "igi", 'v'},
    {UiPromptRegisterEnd, "HUD", "_UI_PROMPT_REGISTER_END", "Prompt prompt", "void",
     "a prompt's setup is finished", "i", 'v'},
    {UiPromptHasHoldModeCompleted, "HUD", "_UI_PROMPT_HAS_HOLD_MODE_COMPLETED", "Prompt prompt", "BOOL",
     "the player completed a prompt", "i", 'i'},
    {UiPromptDelete, "HUD", "_UI_PROMPT_DELETE", "Prompt prompt", "void", "a prompt goes", "i", 'v'},
    {ClearPedTasks, "TASK", "CLEAR_PED_TASKS", "Ped ped, BOOL p1, BOOL p2", "void",
     "the drinking scenario ends", "iii", 'v'},
    {TaskStartScenarioInPlaceHash, "TASK", "TASK_START_SCENARIO_IN_PLACE_HASH",
     "Ped ped, Hash scenarioHash, int duration, BOOL playEnterAnim, Hash conditionalHash, float heading, "
     "BOOL p6",
     "void", "the drinking scenario starts", "iuiixfi", 'v'},
    {IsPedUsingScenarioHash, "PED", "IS_PED_USING_SCENARIO_HASH", "Ped ped, Hash scenarioHash", "BOOL",
     "the drinking scenario runs", "iu", 'i'},
    {GetHashKey, "MISC", "GET_HASH_KEY", "const char* string", "Hash",
     "the drinking scenario's hash, at a refill", "s", 'u'},
    {GetControlNormal, "PAD", "GET_CONTROL_NORMAL", "int control, Hash action", "float",
     "moving ends a drink", "iu", 'f'},
    {HasStreamedTxdLoaded, "TXD", "HAS_STREAMED_TXD_LOADED", "Hash txdHash", "BOOL",
     "a meter's texture dictionary is loaded", "u", 'i'},
    {RequestStreamedTextureDict, "TXD", "REQUEST_STREAMED_TEXTURE_DICT", "const char* textureDict, BOOL p1",
     "void", "a meter's texture dictionary is asked for", "si", 'v'},
    {DrawSprite, "GRAPHICS", "DRAW_SPRITE",
     "const char* textureDict, const char* textureName, float screenX, float screenY, float width, float "
     "height, float heading, int red, int green, int blue, int alpha, BOOL p11",
     "void", "the flask and intake meters", "ssfffffiiiii", 'v'},
    {SetPlayerHealthRechargeMultiplier, "PLAYER", "SET_PLAYER_HEALTH_RECHARGE_MULTIPLIER",
     "Player player, float regenRate", "void", "health comes back slower or faster", "if", 'v'},
    {SetPlayerStaminaRechargeMultiplier, "PLAYER", "SET_PLAYER_STAMINA_RECHARGE_MULTIPLIER",
     "Player player, float multiplier", "void", "stamina comes back slower or faster", "if", 'v'},
    {GetSecondsSinceBaseYear, "CLOCK", "_GET_SECONDS_SINCE_BASE_YEAR", "", "int",
     "the sobering clock: in-game seconds since 1898", "", 'i'},
    {RestorePedStamina, "PED", "_RESTORE_PED_STAMINA", "Ped ped, float stamina", "void",
     "waking from a pass-out: full stamina", "if", 'v'},
    {GetEntityMaxHealth, "ENTITY", "GET_ENTITY_MAX_HEALTH", "Entity entity, BOOL p1", "int",
     "waking from a pass-out: full health, read", "ii", 'i'},
    {SetEntityHealth, "ENTITY", "SET_ENTITY_HEALTH", "Entity entity, int healthAmount, Entity entityKilledBy",
     "void", "waking from a pass-out: full health, set", "iii", 'v'},
    {SetAttributeCoreValue, "ATTRIBUTE", "_SET_ATTRIBUTE_CORE_VALUE", "Ped ped, int coreIndex, int value",
     "void", "waking from a pass-out: the cores at 100", "iii", 'v'},
    {IsPlayerFreeAiming, "PLAYER", "IS_PLAYER_FREE_AIMING", "Player player", "BOOL",
     "the Dead Eye lock acts only while the player aims", "i", 'i'},
    {DisableControlAction, "PAD", "DISABLE_CONTROL_ACTION",
     "int control, Hash action, BOOL disableRelatedActions", "void",
     "the Dead Eye lock holds its controls off", "iub", 'v'},
    {GetInteriorFromEntity, "INTERIOR", "GET_INTERIOR_FROM_ENTITY", "Entity entity", "Interior",
     "the saloon the player is in", "i", 'i'},
    {GetPlayerInteractionTargetEntity, "PLAYER", "GET_PLAYER_INTERACTION_TARGET_ENTITY",
     "Player player, Entity* outEntity, BOOL p2, BOOL p3", "BOOL", "the ped the player targets", "ipbb", 'i'},
    {GetEntityModel, "ENTITY", "GET_ENTITY_MODEL", "Entity entity", "Hash",
     "a ped's model: the bartender, Arthur or John", "i", 'u'},
    {GetEntityCoords, "ENTITY", "GET_ENTITY_COORDS", "Entity entity, BOOL alive, BOOL realCoords", "Vector3",
     "the player and the bartender, for their distance", "ibb", 'P'},
    {Vdist, "BUILTIN", "VDIST", "float x1, float y1, float z1, float x2, float y2, float z2", "float",
     "the bartender is close enough", "ffffff", 'f'},
    {SetPlayerControl, "PLAYER", "SET_PLAYER_CONTROL",
     "Player player, BOOL toggle, int flags, BOOL bPreventHeadingChange", "void",
     "the player's control, taken and given back at a refill", "ibii", 'v'},
    {PlayPedAmbientSpeechNative, "AUDIO", "PLAY_PED_AMBIENT_SPEECH_NATIVE", "Ped speaker, Any* params",
     "BOOL", "the bartender and the player speak at a refill", "ir", 'v'},
    {DoScreenFadeOut, "CAM", "DO_SCREEN_FADE_OUT", "int duration", "void", "the screen fades out at a refill",
     "i", 'v'},
    {DoScreenFadeIn, "CAM", "DO_SCREEN_FADE_IN", "int duration", "void", "the screen fades in at a refill",
     "i", 'v'},
    {MoneyDecrementCashBalance, "MONEY", "_MONEY_DECREMENT_CASH_BALANCE", "int amount", "BOOL",
     "the refill price, in cents", "i", 'v'},
};
inline constexpr size_t Count = sizeof Table / sizeof Table[0];

// The name the tools print: "MISC::GET_MISSION_FLAG".
inline std::string fullName(const Native& n) { return std::string(n.space) + "::" + n.name; }

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
        if (!*n.space || !*n.name || !*n.returns || !*n.role) return false;
        for (size_t j = 0; j < i; ++j)
            if (Table[j].hash == n.hash || sameText(Table[j].name, n.name)) return false;
    }
    return true;
}

} // namespace detail

static_assert(detail::wellFormed(), "each native once, with a name of its own and kinds the tools know");

} // namespace natives
