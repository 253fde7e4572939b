// The per-frame controller: the drink prompt, the two drink triggers and the
// drinking sequence, then the intoxication model and the saloon check.
#pragma once

// One game frame of game logic. Returns within the frame, except that the start
// of drinking waits frame by frame for the scenario and a refill at a saloon
// plays out before it returns.
void TickUpdate();
