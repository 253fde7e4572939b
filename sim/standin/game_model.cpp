// The game model: the answers to the natives the plug-in uses, their effects on
// the world, and the world's advance by one frame.
#include "standin/host_internals.h"
#include "standin/native_table.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <vector>

namespace sim::detail {

namespace {

const uint32_t DrinkScenario = 0x4CA3FEA4;  // "WORLD_HUMAN_DRINK_FLASK"
const uint32_t SatchelControl = 0x4CC0E2FE; // INPUT_OPEN_SATCHEL_MENU: its release toggles the drink prompt
const uint64_t IntensityAtTop = 0x3F800000; // 1.0f, as the plug-in writes it

const std::string& passOutEffect() {
    static const std::string name = PassOutEffect;
    return name;
}

void putInt(UINT64* r, int32_t v) { r[0] = (uint32_t)v; }
void putFloat(UINT64* r, int k, float v) {
    uint32_t bits;
    memcpy(&bits, &v, sizeof bits);
    r[k] = bits;
}

Prompt* findPrompt(World& w, int32_t handle) {
    auto it = w.prompts.find(handle);
    return it == w.prompts.end() ? nullptr : &it->second;
}

const Ped* findPed(const World& w, int32_t handle) {
    auto it = w.peds.find(handle);
    return it == w.peds.end() ? nullptr : &it->second;
}

void addOption(World& w, const Call& c) {
    if (Prompt* p = findPrompt(w, c.i32(0))) p->options.emplace_back(c.hash, c.i32(1));
}

void startScenario(World& w, const Call& c) {
    ++w.scenarioStarts;
    if (c.i32(0) != w.playerPed || c.u32(1) != DrinkScenario) return;
    w.scenarioHash = c.u32(1);
    if (w.scenarioNeverStarts || w.scenarioRunning || w.scenarioPending >= 0) return;
    if (w.scenarioStartFrames <= 0)
        w.scenarioRunning = true;
    else
        w.scenarioPending = w.scenarioStartFrames;
}

void requestTexture(World& w, const Call& c) {
    w.textureRequests.push_back(c.text[0]);
    const uint32_t hash = nameHash(c.text[0].c_str());
    auto loaded = w.textureLoaded.find(hash);
    if ((loaded != w.textureLoaded.end() && loaded->second) || w.textureLoading.count(hash)) return;
    if (w.textureLoadFrames <= 0)
        w.textureLoaded[hash] = true;
    else
        w.textureLoading[hash] = w.textureLoadFrames;
}

void drawSprite(World& w, const Call& c) { w.sprites.push_back(spriteOf(c)); }

void speak(World& w, const Call& c, int frame) { w.speech.push_back(speechOf(c, frame)); }

void position(const World& w, int32_t entity, UINT64* r) {
    float x = 0, y = 0, z = 0;
    if (entity == w.playerPed) {
        x = w.playerX, y = w.playerY, z = w.playerZ;
    } else if (const Ped* p = findPed(w, entity)) {
        x = p->x, y = p->y, z = p->z;
    }
    putFloat(r, 0, x);
    putFloat(r, 1, y);
    putFloat(r, 2, z);
}

float distance(const World& w, const Call& c) {
    if (w.distanceIsNaN) return std::nanf("");
    const double dx = (double)c.f32(3) - c.f32(0);
    const double dy = (double)c.f32(4) - c.f32(1);
    const double dz = (double)c.f32(5) - c.f32(2);
    return (float)std::sqrt(dx * dx + dy * dy + dz * dz);
}

} // namespace

namespace {

// The answers, one per native or kind of native; each reads the call and the world
// and writes the result (zeroed beforehand).
using Answer = void (*)(Host& h, const Call& c, UINT64* r);

// The script loop and the frame.
void missionFlag(Host& h, const Call&, UINT64* r) { putInt(r, h.world.missionFlag ? 1 : 0); }
void playerPed(Host& h, const Call&, UINT64* r) { putInt(r, h.world.playerPed); }
void gameTimer(Host& h, const Call&, UINT64* r) { putInt(r, (int32_t)h.world.timer); }

// The drink prompt's guards: the input in use, the satchel control's release, the
// selection wheel's effect; and whether the player is on foot.
void keyboardAndMouse(Host& h, const Call&, UINT64* r) { putInt(r, h.world.keyboardAndMouse); }
void justReleased(Host& h, const Call& c, UINT64* r) {
    putInt(r, c.u32(1) == SatchelControl ? h.world.satchelReleased : 0);
}
void effectRunning(Host& h, const Call& c, UINT64* r) {
    auto it = h.world.effects.find(c.text[0]);
    putInt(r, it == h.world.effects.end() ? 0 : it->second);
}
void onFoot(Host& h, const Call&, UINT64* r) { putInt(r, h.world.dead ? 0 : h.world.onFoot); }

// Prompts.
void promptBegin(Host& h, const Call&, UINT64* r) {
    World& w = h.world;
    const int32_t handle = w.nextPromptHandle++;
    Prompt& p = w.prompts[handle];
    p = Prompt();
    p.handle = handle;
    p.createdFrame = h.frame;
    putInt(r, handle);
}
void promptControl(Host& h, const Call& c, UINT64*) {
    if (Prompt* p = findPrompt(h.world, c.i32(0))) p->control = c.u32(1);
}
void labelText(Host& h, const Call& c, UINT64* r) {
    World& w = h.world;
    const uint64_t text = w.nextText++;
    w.texts[text] = c.text[2];
    if (w.texts.size() > World::KeptTexts) w.texts.erase(w.texts.begin()); // the oldest
    r[0] = text;
}
void promptLabel(Host& h, const Call& c, UINT64*) {
    if (Prompt* p = findPrompt(h.world, c.i32(0))) {
        auto it = h.world.texts.find(c.args[1]);
        p->label = it == h.world.texts.end() ? std::string() : it->second;
    }
}
void promptOption(Host& h, const Call& c, UINT64*) { addOption(h.world, c); }
void pedPromptGroup(Host& h, const Call& c, UINT64* r) {
    const Ped* ped = findPed(h.world, c.i32(0));
    putInt(r, ped ? ped->promptGroup : 0);
}
void promptSetGroup(Host& h, const Call& c, UINT64*) {
    const int64_t group = (int64_t)c.args[1];
    // The group is a 32-bit identifier that goes in with its sign.
    if (group != (int64_t)(int32_t)(uint32_t)c.args[1]) {
        char b[128];
        snprintf(b, sizeof b,
                 "HUD::_UI_PROMPT_SET_GROUP: group 0x%016llX is not a sign-extended 32-bit value",
                 (unsigned long long)c.args[1]);
        addViolation(b);
    }
    if (Prompt* p = findPrompt(h.world, c.i32(0))) {
        p->grouped = true;
        p->group = group;
        p->groupArg = c.i32(2);
    }
}
void promptFinish(Host& h, const Call& c, UINT64*) {
    if (Prompt* p = findPrompt(h.world, c.i32(0))) p->setupFinished = true;
}
void promptCompleted(Host& h, const Call& c, UINT64* r) {
    const Prompt* p = findPrompt(h.world, c.i32(0));
    putInt(r, p && p->completed ? 1 : 0);
}
// The prompts deleted longest ago go, unless a plug-in could tell them from a
// missing one: a completed prompt still answers the completion test, and the
// highest handle is what a hostile game hands out. Every answer stays as it was.
void forgetDeletedPrompts(World& w) {
    while (w.deletedPrompts.size() > World::KeptDeletedPrompts) {
        const auto [handle, deletion] = w.deletedPrompts.front();
        w.deletedPrompts.pop_front();
        auto it = w.prompts.find(handle);
        if (it == w.prompts.end() || it->second.alive || it->second.deletion != deletion) continue; // reused
        if (it->second.completed || std::next(it) == w.prompts.end()) continue;
        w.prompts.erase(it);
    }
}

void promptDelete(Host& h, const Call& c, UINT64*) {
    // Deleting an unknown or a deleted prompt is allowed (handle 0 among them).
    if (Prompt* p = findPrompt(h.world, c.i32(0)); p && p->alive) {
        p->alive = false;
        p->deletedFrame = h.frame;
        p->deletion = ++h.world.deletions;
        h.world.deletedPrompts.emplace_back(c.i32(0), p->deletion);
        forgetDeletedPrompts(h.world);
    }
}

// The drinking scenario.
void clearTasks(Host& h, const Call& c, UINT64*) {
    ++h.world.clearingCalls;
    if (c.i32(0) == h.world.playerPed && !h.world.scenarioNeverEnds) h.world.scenarioRunning = false;
}
void scenarioStart(Host& h, const Call& c, UINT64*) { startScenario(h.world, c); }
void scenarioRunning(Host& h, const Call& c, UINT64* r) {
    const World& w = h.world;
    putInt(r, c.i32(0) == w.playerPed && w.scenarioRunning && c.u32(1) == w.scenarioHash ? 1 : 0);
}
void scenarioHash(Host&, const Call& c, UINT64* r) { putInt(r, (int32_t)nameHash(c.text[0].c_str())); }
void controlValue(Host& h, const Call& c, UINT64* r) {
    auto it = h.world.analog.find(c.u32(1));
    putFloat(r, 0, it == h.world.analog.end() ? 0.0f : it->second);
}

// Texture dictionaries and sprites.
void textureLoaded(Host& h, const Call& c, UINT64* r) {
    auto it = h.world.textureLoaded.find(c.u32(0));
    putInt(r, it != h.world.textureLoaded.end() && it->second ? 1 : 0);
}
void textureRequest(Host& h, const Call& c, UINT64*) { requestTexture(h.world, c); }
void sprite(Host& h, const Call& c, UINT64*) { drawSprite(h.world, c); }

// Intoxication and the player's health.
void healingRate1(Host& h, const Call& c, UINT64*) { h.world.healingRate[0] = c.f32(1); }
void healingRate2(Host& h, const Call& c, UINT64*) { h.world.healingRate[1] = c.f32(1); }
void gameClock(Host& h, const Call&, UINT64* r) { putInt(r, h.world.clock); }
void restorePed(Host& h, const Call&, UINT64*) { ++h.world.restoreCalls; }
void pedValue(Host& h, const Call&, UINT64* r) { putInt(r, h.world.playerValue); }
void setPedValue(Host& h, const Call& c, UINT64*) { h.world.playerValue = c.i32(1); }
void setCoreValue(Host& h, const Call& c, UINT64*) {
    if (c.i32(1) >= 0 && c.i32(1) < 3) h.world.coreValues[c.i32(1)] = c.i32(2);
}
void freeAiming(Host& h, const Call&, UINT64* r) { putInt(r, h.world.freeAiming); }
void holdControlOff(Host& h, const Call& c, UINT64*) { h.world.controlsHeldOff.push_back(c.u32(1)); }

// Saloons and bartenders.
void interior(Host& h, const Call& c, UINT64* r) {
    putInt(r, c.i32(0) == h.world.playerPed ? h.world.interior : 0);
}
void targetedPed(Host& h, const Call& c, UINT64* r) {
    // The game writes the targeted ped's handle through the address.
    if (void* out = (void*)(uintptr_t)c.args[1]) memcpy(out, &h.world.target, sizeof h.world.target);
    putInt(r, h.world.target != 0 ? 1 : 0);
}
void entityModel(Host& h, const Call& c, UINT64* r) {
    uint32_t model = 0;
    if (c.i32(0) == h.world.playerPed)
        model = h.world.playerModel;
    else if (const Ped* p = findPed(h.world, c.i32(0)))
        model = p->model;
    putInt(r, (int32_t)model);
}
void entityPosition(Host& h, const Call& c, UINT64* r) { position(h.world, c.i32(0), r); }
void pedDistance(Host& h, const Call& c, UINT64* r) { putFloat(r, 0, distance(h.world, c)); }

// The refill.
void playerControl(Host& h, const Call& c, UINT64*) {
    h.world.playerControl = c.i32(1) != 0;
    h.world.controlChanges.emplace_back(h.frame, c.i32(1));
}
void sayLine(Host& h, const Call& c, UINT64*) { speak(h.world, c, h.frame); }
void fadeOut(Host& h, const Call&, UINT64*) {
    ++h.world.fadeOuts;
    h.world.screenFadedOut = true;
}
void fadeIn(Host& h, const Call&, UINT64*) {
    ++h.world.fadeIns;
    h.world.screenFadedOut = false;
}
void takeCash(Host& h, const Call& c, UINT64*) {
    h.world.cash -= c.i32(0);
    h.world.charges.push_back(c.i32(0));
}

struct Answering {
    uint64_t hash;
    Answer answer;
};

// In the order of the native table; sorted by hash at first use.
const Answering Answers[] = {
    {natives::GetMissionFlag, missionFlag},
    {natives::PlayerPedId, playerPed},
    {natives::GetGameTimer, gameTimer},
    {natives::IsUsingKeyboardAndMouse, keyboardAndMouse},
    {natives::IsControlJustReleased, justReleased},
    {natives::AnimpostfxIsRunning, effectRunning},
    {natives::IsPedOnFoot, onFoot},
    {natives::UiPromptRegisterBegin, promptBegin},
    {natives::UiPromptSetControlAction, promptControl},
    {natives::VarString, labelText},
    {natives::UiPromptSetText, promptLabel},
    {natives::UiPromptSetHoldMode, promptOption},
    {natives::UiPromptSetPriority, promptOption},
    {natives::UiPromptSetVisible, promptOption},
    {natives::UiPromptSetEnabled, promptOption},
    {natives::UiPromptGetGroupIdForTargetEntity, pedPromptGroup},
    {natives::UiPromptSetGroup, promptSetGroup},
    {natives::UiPromptRegisterEnd, promptFinish},
    {natives::UiPromptHasHoldModeCompleted, promptCompleted},
    {natives::UiPromptDelete, promptDelete},
    {natives::ClearPedTasks, clearTasks},
    {natives::TaskStartScenarioInPlaceHash, scenarioStart},
    {natives::IsPedUsingScenarioHash, scenarioRunning},
    {natives::GetHashKey, scenarioHash},
    {natives::GetControlNormal, controlValue},
    {natives::HasStreamedTxdLoaded, textureLoaded},
    {natives::RequestStreamedTextureDict, textureRequest},
    {natives::DrawSprite, sprite},
    {natives::SetPlayerHealthRechargeMultiplier, healingRate1},
    {natives::SetPlayerStaminaRechargeMultiplier, healingRate2},
    {natives::GetSecondsSinceBaseYear, gameClock},
    {natives::RestorePedStamina, restorePed},
    {natives::GetEntityMaxHealth, pedValue},
    {natives::SetEntityHealth, setPedValue},
    {natives::SetAttributeCoreValue, setCoreValue},
    {natives::IsPlayerFreeAiming, freeAiming},
    {natives::DisableControlAction, holdControlOff},
    {natives::GetInteriorFromEntity, interior},
    {natives::GetPlayerInteractionTargetEntity, targetedPed},
    {natives::GetEntityModel, entityModel},
    {natives::GetEntityCoords, entityPosition},
    {natives::Vdist, pedDistance},
    {natives::SetPlayerControl, playerControl},
    {natives::PlayPedAmbientSpeechNative, sayLine},
    {natives::DoScreenFadeOut, fadeOut},
    {natives::DoScreenFadeIn, fadeIn},
    {natives::MoneyDecrementCashBalance, takeCash},
};

Answer answerFor(uint64_t hash) {
    static const std::vector<Answering> sorted = [] {
        std::vector<Answering> v(std::begin(Answers), std::end(Answers));
        std::sort(v.begin(), v.end(), [](const Answering& a, const Answering& b) { return a.hash < b.hash; });
        return v;
    }();
    auto it = std::lower_bound(sorted.begin(), sorted.end(), hash,
                               [](const Answering& a, uint64_t h) { return a.hash < h; });
    return it != sorted.end() && it->hash == hash ? it->answer : nullptr;
}

} // namespace

void answerNative(const Call& c, UINT64* r) {
    if (Answer answer = answerFor(c.hash)) answer(host(), c, r);
}

void advanceWorld() {
    World& w = host().world;
    w.timer += w.frameMs;
    advanceTickCount(w.frameMs);

    // The game clock, whole in-game seconds at a time.
    w.clockCarry += w.clockPerSecond * w.frameMs / 1000.0;
    const double whole = std::floor(w.clockCarry);
    if (whole != 0.0) {
        w.clock = (int32_t)((uint32_t)w.clock + (uint32_t)(int64_t)whole);
        w.clockCarry -= whole;
    }

    if (w.scenarioPending > 0 && --w.scenarioPending == 0) {
        w.scenarioPending = -1;
        if (!w.scenarioNeverStarts) w.scenarioRunning = true;
    }

    for (auto it = w.textureLoading.begin(); it != w.textureLoading.end();) {
        if (--it->second > 0) {
            ++it;
            continue;
        }
        w.textureLoaded[it->first] = true;
        it = w.textureLoading.erase(it);
    }

    // The pass-out effect: once the intensity has stayed at the top long enough.
    if (w.autoPassOut) {
        if (w.passOutLeftMs > 0) {
            w.passOutLeftMs = w.passOutLeftMs > w.frameMs ? w.passOutLeftMs - w.frameMs : 0;
            if (w.passOutLeftMs == 0) w.effects[passOutEffect()] = 0;
        } else if (w.intensityGlobal == IntensityAtTop) {
            w.atTopMs += w.frameMs;
            if (w.atTopMs >= w.passOutAfterMs) {
                w.effects[passOutEffect()] = 1;
                w.passOutLeftMs = w.passOutDurationMs > 0 ? w.passOutDurationMs : 1;
                w.atTopMs = 0;
                ++w.passOuts;
            }
        } else {
            w.atTopMs = 0;
        }
    }

    // What the script draws and holds off belongs to one frame.
    w.controlsHeldOff.clear();
    w.sprites.clear();
}

} // namespace sim::detail

namespace sim {

uint32_t nameHash(const char* name) {
    uint32_t h = 0;
    for (const char* p = name; *p; ++p) {
        const char ch = (*p >= 'A' && *p <= 'Z') ? (char)(*p - 'A' + 'a') : *p;
        h += (uint8_t)ch;
        h += h << 10;
        h ^= h >> 6;
    }
    h += h << 3;
    h ^= h >> 11;
    h += h << 15;
    return h;
}

} // namespace sim
