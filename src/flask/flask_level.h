// The flask's contents and the one-number save file "Tolvenmire.dat" that carries
// them from one run of the game to the next.
#pragma once

// Reads "Tolvenmire.dat" into gState.flaskLevel; a missing or unreadable file,
// or one with nothing but white space, leaves it as it is. No range check.
void loadFlaskLevel();

// Writes gState.flaskLevel as decimal text, nothing else, replacing the save file
// in one step: an interrupted or failed save leaves the old file as it was.
void saveFlaskLevel();
