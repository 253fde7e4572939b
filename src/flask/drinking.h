// Drinking from the flask: the "Drink From Flask" prompt, the two drink triggers
// (the drink key and the prompt's completion) and the drinking sequence with its
// sips. Each runs in its place in the frame.
#pragma once

// Toggles the drink prompt in each frame in which its three guards pass.
void UpdateDrinkPrompt();

// Tests the drink key, then the prompt's completion; a trigger outside drinking
// mode with the player able to drink starts the drinking scenario and waits,
// frame by frame, until the game runs it.
void CheckDrinkTriggers();

// One frame of drinking mode: the meters, the two stop controls and the sips.
void UpdateDrinking();

// Takes a shown drink prompt off the screen, as a toggle does: the mission's hold
// calls it, since nothing can use or hide the prompt while the script is held.
void WithdrawDrinkPrompt();
