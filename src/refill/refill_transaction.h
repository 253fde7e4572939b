// The served refill at a saloon bar: one blocking sequence of about 7.5 s of game
// time that yields frames by itself and draws the meters in each of them.
#pragma once

#include <cstdint>

// Runs the whole refill; `bartenderVoice` is the saloon's bartender voice name.
void RefillTransaction(const char* bartenderVoice);

// refillPrice x 100, the amount charged in hundredths, saturated to 32 bits.
int32_t refillAmount(int32_t price);
