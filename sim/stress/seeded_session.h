// One randomized session (random_session.h) as it is played: the seed's generator,
// the world it changes, the keyboard, the recording and the checks of every frame
// all work on this one record, each in a file of its own:
//   seeded_session.cpp   the session from its start to its end
//   world_changes.cpp    what the generator does to the world, the settings and the files
//   key_delivery.cpp     the key events, as the session's way of delivering them has it
//   session_recording.cpp  the recording option: RECORD_SESSION=1 and the file kept
//   frame_invariants.cpp what every call and every frame must hold, and the digest
// Everything random comes from `rng_`; every choice depends only on it and on what
// the plug-in did, so a seed plays the same session every time (key events sent
// from a second thread included: that thread delivers them in step with the frames;
// the free-running thread of some seeds sends events of other keys only, which the
// plug-in stores and never reads).
#pragma once

#include "stress/hostile_checks.h"
#include "stress/keyboard_threads.h"
#include "stress/random_session.h"
#include "stress/seeded_rng.h"
#include "sim.h"

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stress {

// What the world's changes and the checks both name.
const char* const DrinkLabel = "Drink From Flask";
const char* const RefillLabel = "Refill Flask";

// A file's content for a log line: quoted, every unprintable byte as \xNN.
std::string shown(const std::optional<std::string>& s);

class Session {
  public:
    Session(uint64_t seed, const SessionOptions& options) : rng_(seed), options_(options) {
        result_.seed = seed;
    }
    SessionResult run();

  private:
    // The session's course (seeded_session.cpp).
    bool startPlugin();
    sim::StartOptions startOptions();
    void startInputs();
    bool playGameTime();
    bool playToTheEnd();
    SessionResult finish(bool ok);
    void wound(); // puts the folder's permissions back
    bool fail(const std::string& what);
    void log(const std::string& what);
    // Setting up (world_changes.cpp).
    std::string makeSettings();
    std::string makeSave();
    void setUpWorld();
    // One frame of changes, then the frame, then the checks (world_changes.cpp).
    void act();
    void pickFrameLength();
    void completePrompts();
    void changeGuards();
    void pressStopControls();
    void changeMission();
    void changeClockRate();
    void changeScenarioAndFiles();
    void changeSaloon();
    void changeTarget();
    void changeClock();
    void setFileReadOnly(bool on);
    void setFolderReadOnly(bool on);
    // Keys (key_delivery.cpp).
    void pressKeys();
    void sendKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh);
    void pressKey(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh);
    void sendBurst(int32_t seventh);
    void deliverHeldKeys();
    // The recording (session_recording.cpp).
    void recordInto(sim::StartOptions* o);
    std::string recordingSettings(bool withSettings, const std::string& settings) const;
    bool keepRecording(bool ok);
    // The checks (frame_invariants.cpp).
    void observe(const sim::Call& c);
    void mixIntoDigest(const sim::Call& c);
    bool checkFrame();
    bool checkPrompts();
    bool checkIntensityGlobal();
    bool checkControlAndLoop();
    bool checkSaveFile();
    bool countWhatHappened();
    void watchSaveFolder();
    void stopWatchingSaveFolder();
    bool saveFolderMayHaveChanged();

    Rng rng_;
    SessionOptions options_;
    SessionResult result_;
    std::deque<std::string> recent_;
    std::optional<KeyboardThread> keyboard_;
    std::optional<NoiseThread> noise_;
    std::optional<HostileGame> hostile_;
    // KeyDelivery::InsideFrames: the presses waiting for a native call.
    struct Press {
        uint32_t key;
        int32_t fifth, sixth, seventh;
    };
    std::vector<Press> heldKeys_;
    std::filesystem::path recordFolder_; // recording: the session's folder, kept past the unload

    // The session's traits, drawn once.
    uint32_t drinkKey_ = 79;
    bool driftingFrames_ = false;
    bool binge_ = false; // drinks often and long: intoxication up to the pass-out
    uint32_t maxFrameMs_ = 0;
    bool folderReadOnlyAllowed_ = false;

    // Changes that last a few frames.
    std::vector<std::pair<int32_t, int>> completions_; // prompt handle, frames left
    int stopFrames_ = 0;
    int satchelFrames_ = 0;
    int missionFrames_ = 0;
    uint32_t missionUntil_ = 0;
    bool missionByTime_ = false;

    // What the observer saw in the current frame.
    std::string observed_; // a fault seen inside a call
    bool controlValueSeen_ = false;
    bool stopSeen_ = false;       // a clearing call after the stop controls: drinking stopped
    bool refillSaveSeen_ = false; // the refill's scenario start, right before its save
    bool controlOff_ = false;
    uint32_t controlTakenAt_ = 0;
    uint32_t lastLoopQuery_ = 0;
    uint64_t digest_ = 1469598103934665603ull;
    bool passOutSeen_ = false;
    size_t charges_ = 0;

    // The save file as the last frame left it.
    std::optional<std::string> saveContent_;
    // What tells of changes in its folder (frame_invariants.cpp; -1 when nothing does,
    // and the file is then read after every frame): on Linux an inotify descriptor, on
    // Windows the plug-in's file calls counted so far. Whether a frame has read the
    // file since the start or since the session changed it.
    int saveFolderWatch_ = -1;
#ifdef _WIN32
    int64_t pluginFileCalls_ = 0;
#endif
    bool saveFileRead_ = false;
    bool fileReadOnly_ = false, folderReadOnly_ = false;
    bool wasDrinking_ = false, wasHeld_ = false;
};

} // namespace stress
