#include "flask/intoxication.h"

#include "base/script_state.h"
#include "base/settings.h"
#include "hook/native_call.h"

#include <cstring>

static const int IntensityGlobal = 1935445;

static float floatFromBits(uint32_t bits) {
    float f;
    memcpy(&f, &bits, sizeof f);
    return f;
}

// The global is reached afresh for every write; the pointer is not kept.
static void writeIntensityGlobal(uint64_t value) {
    UINT64* cell = hookGlobalPtr(IntensityGlobal);
    if (cell) *cell = value;
}

static void setHealingRates(float first, float second) {
    NativeCall<void>(0x8899C244EBCF70DE, 0, first);  // PLAYER::SET_PLAYER_HEALTH_RECHARGE_MULTIPLIER
    NativeCall<void>(0xFECA17CF3343694B, 0, second); // PLAYER::SET_PLAYER_STAMINA_RECHARGE_MULTIPLIER
}

void ResetIntoxication() {
    gState.intakeLevel = 0;
    gState.drunkLevel = 0;
    writeIntensityGlobal(0);
    if (gSettings.healWhenDrunk) setHealingRates(1.0f, 1.0f);
    if (gSettings.deadeyeLockThreshold != 0) gState.deadeyeLock = true;
}

static void PassOutRecovery() {
    gState.passedOut = false;
    if (gSettings.healWhenDrunk) {
        // Waking up: full stamina, full health, and the health, stamina and Dead Eye
        // cores (0, 1, 2) at 100.
        NativeCall<void>(0x675680D089BFA21F, gState.playerPed, 100.0f); // PED::_RESTORE_PED_STAMINA
        const int32_t value =
            NativeCall<int32_t>(0x15D757606D170C3C, gState.playerPed, 0); // ENTITY::GET_ENTITY_MAX_HEALTH
        NativeCall<void>(0xAC2767ED8BDFAB15, gState.playerPed, value, 0); // ENTITY::SET_ENTITY_HEALTH
        for (int32_t k = 0; k < 3; ++k) // ATTRIBUTE::_SET_ATTRIBUTE_CORE_VALUE
            NativeCall<void>(0xC6258F41D86676E0, gState.playerPed, k, 100);
    }
    ResetIntoxication();
}

static void IntoxicationStep() {
    // The deadeye rule looks at drunkLevel before it moves.
    gState.deadeyeLock = !(gSettings.deadeyeLockThreshold < gState.drunkLevel);
    gState.nextDrunkStepTime = wrapAdd(gState.now, 1000);
    if (gState.drunkLevel < gState.intakeLevel)
        gState.drunkLevel += 1;
    else if (gState.drunkLevel > gState.intakeLevel)
        gState.drunkLevel -= 1;

    if (gSettings.healWhenDrunk) {
        // Sober again: the player heals as usual, as after a reset. Rates of 0.0 would
        // stay until the next reset, however long the player then plays sober.
        if (gState.drunkLevel == 0) {
            setHealingRates(1.0f, 1.0f);
        } else {
            const float level = (float)gState.drunkLevel;
            setHealingRates(level * floatFromBits(0x3D4CCCCC), level * floatFromBits(0x3CA3D70A));
        }
    }

    if (gState.intakeLevel != 0) {
        // CLOCK::_GET_SECONDS_SINCE_BASE_YEAR: the game clock, in-game seconds since 1898.
        const int32_t clock = NativeCall<int32_t>(0x78FD8BE812E436B2);
        if (gState.nextSoberUpClock < clock) {
            gState.nextSoberUpClock = wrapAdd(clock, gSettings.soberUpInterval);
            if (gState.intakeLevel > 0) gState.intakeLevel -= 1;
        }
    }

    if (gState.drunkLevel > 90) {
        // GRAPHICS::ANIMPOSTFX_IS_RUNNING: the game passes the player out.
        if (NativeCall<int32_t>(0x4A123E85D7C4CA0B, "PlayerDrunk01_PassOut") != 0)
            gState.passedOut = true;
        else if (gState.passedOut)
            PassOutRecovery();
    }
}

static void ApplyDeadeyeLock() {
    if (!gState.deadeyeLock) return;
    // PLAYER::IS_PLAYER_FREE_AIMING: the lock acts only while the player aims.
    if (NativeCall<int32_t>(0x936F967D4BE1CE9D, 0) == 0) return;
    // PAD::DISABLE_CONTROL_ACTION, this frame: INPUT_SPECIAL_ABILITY and
    // INPUT_SPECIAL_ABILITY_SECONDARY, Dead Eye's controls.
    NativeCall<void>(0xFE99B66D079CF6BC, 0, 0xCEE12B50, 1);
    NativeCall<void>(0xFE99B66D079CF6BC, 0, 0x6328239B, 1);
}

void UpdateIntoxication() {
    if (gState.intakeLevel != 0 || gState.drunkLevel != 0) {
        if (isPast(gState.nextDrunkStepTime, gState.now)) IntoxicationStep();
        // The entry's pattern widened with its sign; every entry is positive.
        writeIntensityGlobal((uint64_t)(int64_t)(int32_t)IntensityTable[(size_t)gState.drunkLevel]);
    }
    ApplyDeadeyeLock();
}
