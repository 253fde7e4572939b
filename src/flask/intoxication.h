// The intoxication model: drunkLevel follows intakeLevel one unit a second; the
// intensity for drunkLevel goes to the game's script global 1935445; healing
// rates, sobering by the game clock, the deadeye lock and the pass-out recovery.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Once per frame, after the drinking part of TickUpdate.
void UpdateIntoxication();

// Clears both levels and the game global, restores the healing rates and re-arms
// the deadeye lock. On every entry into the out-of-play hold and after a pass-out.
void ResetIntoxication();

// Bit patterns of the intensity handed to the game for each drunkLevel. Entries 0
// to 99 step evenly in their bit patterns, from 0x3EFEB19F (0.4974489) to
// 0x3F7FFFF9 (0.9999996); 100 to 124 are 1.0.
constexpr std::array<uint32_t, 125> makeIntensityTable() {
    std::array<uint32_t, 125> t{};
    for (uint32_t i = 0; i < 125; ++i) t[i] = i <= 99 ? 0x3EFEB19Fu + 85598u * i : 0x3F800000u;
    return t;
}
inline constexpr std::array<uint32_t, 125> IntensityTable = makeIntensityTable();
