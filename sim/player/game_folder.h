// The game's folder for a whole session, a scenario's or a replay's: the plug-in
// finds its settings and its save file there at every load, so it must outlive each
// load and go at the end, also when the session stops early.
#pragma once

#include <string>

namespace player {

// It is the user's alone (0700): the settings file copied into it may be private.
class GameFolder {
  public:
    GameFolder() = default;
    GameFolder(const GameFolder&) = delete;
    GameFolder& operator=(const GameFolder&) = delete;
    ~GameFolder();
    bool make(std::string* error);
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The game's folder of the session under way removed at once, from a signal
// handler: a second Ctrl-C ends the command where it is, and the folder goes with
// it. Only calls a signal handler may make: the files the host and the plug-in put
// there, by name, then the folder.
void removeGameFolderNow();

} // namespace player
