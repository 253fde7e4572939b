// Bartender refill, the per-frame side: in one of the eight saloons, the
// "Refill Flask" prompt while the player targets that saloon's bartender from
// close by, and the refill when the prompt is completed.
#pragma once

#include <cstdint>

struct SaloonRow {
    int32_t interior;           // identifier of the saloon's interior
    const char* bartenderVoice; // voice in which the bartender speaks
    uint32_t bartenderModel;    // model hash the bartender has
};

extern const SaloonRow SaloonTable[8];

// The last step of every TickUpdate.
void SaloonCheck();
