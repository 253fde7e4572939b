// The script that the script hook runs on the game's script thread.
#pragma once

// Loads the flask, arms the deadeye lock and loops for ever: one TickUpdate per
// frame while the player is in play, a held state while out of play.
void ScriptMain();
