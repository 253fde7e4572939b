// The two meters near the bottom of the screen: the flask on the left, the intake
// on the right. Each is a level sprite, a black background and an icon.
#pragma once

// Draws both meters for this frame; called every drinking frame and every frame
// of a refill's waits. Neither requests nor checks the texture dictionaries.
void CoreMeters();
