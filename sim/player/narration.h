// Telling what happened: the timeline's lines about what the plug-in did, the
// recording for the chart and the HUD picture, and the counts for the summary, all
// from each frame's snapshot (frame.h) and the few moments the player reports
// (the scenario's missions, a quit and a start of the game, the end).
#pragma once

#include "player/frame.h"
#include "player/session_result.h"

#include <string>

namespace player {

// Hands an entry of the timeline to whoever listens.
void tell(const PlayOptions& options, Millis at, Topic topic, const std::string& text, int line = 0,
          bool failed = false, int frame = 0);

// Text with quotes around it and its control characters escaped, as the save
// file's content is shown.
std::string quoted(const std::string& s);
// v with `places` decimals.
std::string fixed(double v, int places);
// The whole file; "" with *exists false when there is none.
std::string readSave(const std::string& path, bool* exists);

// A prompt's show-and-withdraw lines; a prompt toggled frame after frame (its
// control held) is told once, with a count.
struct PromptNoise {
    int lastFrame = -10;
    int run = 0;        // consecutive frames with a toggle
    int suppressed = 0; // toggles not told
};

class Narrator {
  public:
    // hudFrom: the HUD picture's moment; -1 for the last frame with sprites.
    Narrator(const PlayOptions& options, SessionResult* result, Millis hudFrom)
        : opt(options), res(result), hudFrom(hudFrom) {}

    // The state the frames start from: before the first frame.
    void begin(const FrameState& state);
    // After every frame.
    void frame(const FrameSnapshot& f);
    // A story mission begins, and ends in the game (told, unless only the script's
    // hold shows it, as in a replay): while the script holds, or before it asked.
    void missionBegins(Millis at);
    void missionEnds(Millis at, bool told = true);
    // The script holds for a mission: it saw the mission flag up, not yet down again.
    bool holding() const { return held; }
    // The game quits: what was under way ends with the load.
    void quit(Millis at, int line, bool inMission, const std::string& saveFile);
    // The game started again, its plug-in in the state it was loaded with.
    void startedAgain(Millis at, const FrameState& state);
    // The session's end: what is still open, and the levels at the end.
    void finish(Millis at, bool inMission);

  private:
    const PlayOptions& opt;
    SessionResult* res;
    Millis hudFrom;

    FrameState last; // after the last frame
    Millis lastAt = 0;
    int lastPlayed = 0;
    int telling = -1; // the frame being told; -1 between frames
    bool scriptStarted = false;
    bool held = false; // the script holds for a mission
    Millis heldSince = 0;
    // Drinks.
    Millis drinkStart = 0;
    std::string drinkLabel;
    int drinkSips = 0;
    int32_t drinkFlask = 0;
    bool drinkScenarioSeen = false;
    // The levels' lines.
    int64_t second = 0;
    bool busy = false;
    int secondSips = 0;
    bool healingNormal = false; // the healing rates last set by the plug-in were 1.0
    FrameState told;            // the levels last told
    // Refill.
    bool refilling = false;
    Millis refillStart = 0;
    int32_t refillFlask = 0;
    int64_t refillCharged = 0;
    bool refillChargeSeen = false;
    bool thanked = false;
    std::string refillSaloon;
    // The pass-out effect.
    Millis passOutStart = 0;
    // Prompts.
    PromptNoise drinkNoise, refillNoise;
    // The game's mission under way: for the chart, and whether the script saw it.
    bool missionOpen = false;
    bool missionSeen = false;
    Millis missionStart = 0;
    int missionFrame = 0;
    // The game clock as the plug-in last read it.
    bool clockKnown = false;
    int32_t clock = 0;

    // An entry of the frame being told, or of the next frame between frames.
    void say(Millis at, Topic t, const std::string& text, Fact fact = Fact::None, int64_t value = 0,
             const std::string& detail = std::string(), int line = 0);

    void tellStart(const FrameSnapshot& f);
    void tellHold(const FrameSnapshot& f, const FrameState& before);
    void tellNewPrompts(const FrameSnapshot& f);
    void tellWithdrawn(const FrameSnapshot& f, const FrameState& before);
    void tellPrompt(const FrameSnapshot& f, const std::string& label, PromptNoise& noise,
                    const std::string& text, Fact fact, int32_t handle);
    void tellFlickerEnded(const FrameSnapshot& f);
    void tellFlicker(Millis at, bool drink, const char* after);
    void tellDrinkStarted(const FrameSnapshot& f, const FrameState& before);
    std::string withdrawnWhy(const FrameSnapshot& f, const FrameState& before);
    void tellDrinkStopped(const FrameSnapshot& f);
    void tellDrinks(const FrameSnapshot& f, const FrameState& before);
    void tellDeadeye(const FrameSnapshot& f, const FrameState& before, bool startedNow, bool resetNow);
    void tellPassOut(const FrameSnapshot& f, const FrameState& before);
    void tellServiceStart(const FrameSnapshot& f, const FrameState& before);
    void tellService(const FrameSnapshot& f, const FrameState& before);
    void tellServed(Millis at, bool stateKnown);
    void tellLevels(Millis at, bool boundary);
    std::string levelsText(const FrameState& now, const FrameState& before, bool withSips);
    void sample(Millis at);
    void takeHud(const FrameSnapshot& f);
};

} // namespace player
