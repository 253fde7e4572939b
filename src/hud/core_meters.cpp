#include "hud/core_meters.h"

#include "base/decimal_text.h"
#include "base/script_state.h"
#include "hook/native_call.h"

#include <cstring>

// Texture names are built into fixed buffers: nothing is allocated in a frame.
// "RPG_METER_" and a 32-bit level in decimal fit in 22 bytes.
static const char meterTexturePrefix[] = "RPG_METER_";
static char flaskMeterTexture[32];
static char drunkMeterTexture[32];

static void setMeterTexture(char* name, int32_t level) {
    const size_t prefix = sizeof meterTexturePrefix - 1;
    memcpy(name, meterTexturePrefix, prefix);
    formatFlaskLevel(level, name + prefix);
}

static void drawSprite(const char* dictionary, const char* texture, float x, float width, float height,
                       float rotation, int32_t red, int32_t green, int32_t blue, int32_t alpha) {
    // GRAPHICS::DRAW_SPRITE: one sprite on the heads-up display, at y 0.93 in
    // normalised screen units.
    NativeCall<void>(0xC9884ECADE94CB34, dictionary, texture, x, 0.93f, width, height, rotation, red, green,
                     blue, alpha, 0);
}

void CoreMeters() {
    // The flask meter; its level is used unclamped.
    if (gState.flaskLevel != 0) {
        setMeterTexture(flaskMeterTexture, gState.flaskLevel);
        drawSprite("RPG_METER", flaskMeterTexture, 0.47f, 0.025f, 0.043f, 0.0f, 235, 235, 235, 235);
    }
    drawSprite("RPG_TEXTURES", "RPG_CORE_BACKGROUND", 0.47f, 0.024f, 0.042f, 0.0f, 0, 0, 0, 240);
    drawSprite("INVENTORY_ITEMS", "CONSUMABLE_MOONSHINE", 0.47f, 0.013f, 0.0225f, 0.0f, 235, 235, 235, 235);

    // The intoxication meter: the ring's last texture is RPG_METER_99.
    if (gState.intakeLevel != 0) {
        setMeterTexture(drunkMeterTexture, gState.intakeLevel <= 98 ? gState.intakeLevel : 99);
        drawSprite("RPG_METER", drunkMeterTexture, 0.53f, 0.025f, 0.043f, 180.0f, 235, 235, 235, 235);
    }
    drawSprite("RPG_TEXTURES", "RPG_CORE_BACKGROUND", 0.53f, 0.024f, 0.042f, 0.0f, 0, 0, 0, 240);
    drawSprite("BLIPS", "BLIP_AMBIENT_THEATRE", 0.53f, 0.013f, 0.0225f, 0.0f, 235, 235, 235, 235);
}
