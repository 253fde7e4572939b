// The per-frame controller: what runs, in which order, in one game frame.
#pragma once

// One game frame of game logic: the player and the timer, the drink prompt, the
// drink triggers and drinking, the intoxication model, the saloon check. Returns
// within the frame, except that the start of drinking waits frame by frame for
// the scenario and a refill at a saloon plays out before it returns.
void TickUpdate();
