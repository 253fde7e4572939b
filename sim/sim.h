// The stand-in host: an emulation of the script hook and of the game behaviour the
// plug-in relies on. It loads the real plug-in (Tolvenmire.so on Linux,
// Tolvenmire.asi on Windows), runs its script on a cooperative fiber and plays it
// frame by frame against a model of the game, recording every call.
//
// There is one host per process, as there is one script hook in a game: the
// functions below act on it. The nine script-hook functions the plug-in imports
// are implemented beside them (ScriptHookRDR2 library).
//
// A session:
//   sim::StartOptions o;  o.settings = "[SETTINGS]\nTOLVENMIRE_KEY=80\n";
//   std::string error;
//   if (!sim::start(o, &error)) ...;          // fresh folder, load, DllMain(ATTACH)
//   sim::playFrames(10);                      // ten game frames
//   sim::keyEvent(80, 0, 0, 1);               // the drink key, as the keyboard hook delivers it
//   sim::world().analog[0xFDA83190] = 1.0f;   // a stop control
//   ... sim::calls(), sim::world(), sim::pluginState() ...
//   sim::stop();                              // DllMain(DETACH), unload, folder removed
#pragma once

#include "standin/native_table.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

struct ScriptState;
struct Settings;

namespace rec {
struct Event;
struct Recording;
} // namespace rec

namespace sim {

// ---------------------------------------------------------------------------
// The call log: every interaction of the plug-in with the host, in order.

enum class CallKind : uint8_t {
    Native,             // nativeInit .. nativePush64 .. nativeCall
    Wait,               // scriptWait
    GlobalPtr,          // getGlobalPtr
    ScriptRegister,     // scriptRegister
    ScriptUnregister,   // scriptUnregister
    KeyboardRegister,   // keyboardHandlerRegister
    KeyboardUnregister, // keyboardHandlerUnregister
};

struct Call {
    CallKind kind = CallKind::Native;
    uint64_t hash = 0;       // Native: the native's hash
    int argc = 0;            // Native: number of argument slots pushed
    uint64_t args[12] = {};  // Native: the 64-bit argument slots exactly as pushed
    std::string text[12];    // Native: string arguments, read at call time ("" for other kinds)
    uint64_t result[3] = {}; // Native: the answer the model gave (slots 0..2)
    uint32_t waitMs = 0;     // Wait: the milliseconds asked for
    int32_t globalIndex = 0; // GlobalPtr: the index asked for
    uint64_t pointer = 0;    // registrations: the module handle (script) or the handler (keyboard)
                             // passed; ScriptRegister has the script's entry in args[0].
                             // GlobalPtr: the cell's address (0 for an unknown global)
    int frame = 0;           // the game frame it happened in (see frame())
    uint32_t timer = 0;      // the game timer at the call
    bool onScriptFiber = false;

    int32_t i32(int k) const { return (int32_t)(uint32_t)args[k]; }
    uint32_t u32(int k) const { return (uint32_t)args[k]; }
    float f32(int k) const;
    const std::string& str(int k) const { return text[k]; }
    int32_t resultInt() const { return (int32_t)(uint32_t)result[0]; }
    float resultFloat() const;
};

// The float in the low 32 bits of a 64-bit slot or cell, as the game keeps one.
float floatOf(uint64_t cell);
// Two float answers alike: the same bits, or both not a number (the plug-in reads
// any NaN as no number).
bool sameFloat(uint32_t a, uint32_t b);

// The game's names of the screen effects the plug-in asks about.
inline constexpr const char* PassOutEffect = "PlayerDrunk01_PassOut";
inline constexpr const char* WheelEffect = "WheelHUDIn";

// The natives the model knows: those of the native table (standin/native_table.h),
// each with its hash, the game's name of it, its published signature and the kinds
// of its arguments and result.
using NativeInfo = natives::Native;
const NativeInfo* findNative(uint64_t hash); // nullptr for a hash the model does not know

// One line describing a call, each native and each of the game's hashes
// (standin/game_hashes.h) by the game's name:
// "frame 12  0x<the hash, 16 digits> MISC::GET_GAME_TIMER() -> 100396".
std::string describe(const Call& call);

// ---------------------------------------------------------------------------
// The game model. Tests set these fields between frames to script the game;
// the natives answer from them and write back into them.

struct Prompt {
    int32_t handle = 0;
    uint32_t control = 0;                              // set by the control native
    std::string label;                                 // resolved from the label text handle
    std::vector<std::pair<uint64_t, int32_t>> options; // (native hash, value) in call order
    bool grouped = false;                              // placed in a ped's prompt group
    int64_t group = 0;                                 // the group identifier as passed (64 bits)
    int32_t groupArg = 0;                              // the group native's third argument
    bool setupFinished = false;
    bool completed = false; // the player has completed it: the completion test answers 1
    bool alive = true;      // false once deleted
    int createdFrame = 0;
    int deletedFrame = -1;
    uint64_t deletion = 0; // the deletion's number in the session (World::deletions)
};

struct Ped {
    int32_t handle = 0;
    uint32_t model = 0;
    float x = 0, y = 0, z = 0;
    int32_t promptGroup = 0; // what the prompt-group native answers for this ped
};

struct Speech {
    int frame = 0;
    int32_t speaker = 0;
    std::string line;  // slot 1, dereferenced
    std::string voice; // slot 2, dereferenced
    uint64_t slots[8] = {};
};

struct Sprite {
    std::string dictionary, texture;
    float x = 0, y = 0, width = 0, height = 0, rotation = 0;
    int32_t red = 0, green = 0, blue = 0, alpha = 0, last = 0;
};

// The sprite a draw call asks for, argument by argument.
Sprite spriteOf(const Call& call);
// What a speech call says in `frame`: the speaker, and the line and the voice its
// record points at.
Speech speechOf(const Call& call, int frame);

// The game's hash of a name: Jenkins one-at-a-time of the name in lower case.
uint32_t nameHash(const char* name);

struct World {
    // Time. The game timer advances by frameMs each frame. The game clock (the
    // sobering clock: in-game seconds since the start of 1898) advances by
    // clockPerSecond in-game seconds per second of game timer (the game's own pace
    // is about 30); tests may also set it directly, backwards included.
    uint32_t timer = 100000;
    uint32_t frameMs = 33;
    int32_t clock = 0;
    double clockPerSecond = 30.0;
    double clockCarry = 0.0; // fraction of a clock unit not yet added

    // The player.
    int32_t playerPed = 1001;
    uint32_t playerModel = 0x0D7114C9; // Arthur
    bool missionFlag = false;          // a story mission is under way: GET_MISSION_FLAG answers 1
    // IS_PED_ON_FOOT's answer for the player while alive (0: mounted); the model's
    // player starts on foot. While dead it answers 0 whatever this holds.
    int32_t onFoot = 1;
    bool dead = false;
    float playerX = 0, playerY = 0, playerZ = 0;

    // The drink prompt's guards: IS_USING_KEYBOARD_AND_MOUSE's answer (the model's
    // player starts with a controller), IS_CONTROL_JUST_RELEASED's for
    // INPUT_OPEN_SATCHEL_MENU, and named effects ("WheelHUDIn",
    // "PlayerDrunk01_PassOut").
    int32_t keyboardAndMouse = 0;
    int32_t satchelReleased = 0;
    std::map<std::string, int32_t> effects;
    // Analogue control values, by control hash (the two stop controls: INPUT_MOVE_UD
    // and INPUT_MOVE_LR).
    std::map<uint32_t, float> analog;

    // The drinking scenario: running scenarioStartFrames frames after it is
    // requested, unless scenarioNeverStarts; the clearing call ends a running one
    // (a requested one that is not yet running keeps coming).
    int scenarioStartFrames = 3;
    bool scenarioNeverStarts = false;
    bool scenarioRunning = false;
    uint32_t scenarioHash = 0;
    int scenarioPending = -1; // frames until it runs; -1 none requested
    int scenarioStarts = 0;   // scenario start calls seen
    int clearingCalls = 0;

    // Texture dictionaries by hash: requested ones load textureLoadFrames later.
    int textureLoadFrames = 2;
    std::map<uint32_t, int> textureLoading; // hash -> frames until loaded
    std::map<uint32_t, bool> textureLoaded;
    std::vector<std::string> textureRequests; // names, in order

    // Prompts by handle. Deleted ones stay, with alive false, for KeptDeletedPrompts
    // deletions more, so that a session that makes and deletes one every frame keeps
    // its memory flat; kept for good are the deleted ones the plug-in could tell from
    // a missing one: a completed prompt, and the highest handle (which a hostile game
    // hands out again).
    static const size_t KeptDeletedPrompts = 256;
    std::map<int32_t, Prompt> prompts;
    int32_t nextPromptHandle = 1;
    uint64_t deletions = 0;
    std::deque<std::pair<int32_t, uint64_t>> deletedPrompts; // (handle, deletion), oldest first
    // Label text handles -> text; the KeptTexts newest only (a label is read as it
    // is made).
    static const size_t KeptTexts = 256;
    std::map<uint64_t, std::string> texts;
    uint64_t nextText = 0x5445585400000001ull;

    // Interiors, peds and targeting.
    int32_t interior = 0;        // the interior the player is in (0: outside)
    std::map<int32_t, Ped> peds; // peds other than the player, by handle
    int32_t target = 0;          // the ped the player targets; 0: none
    bool distanceIsNaN = false;  // the distance native answers NaN

    // Money, speech, the screen, control.
    int64_t cash = 100000;        // in hundredths; may go below zero
    std::vector<int32_t> charges; // amounts taken, in order
    std::vector<Speech> speech;
    int fadeOuts = 0, fadeIns = 0;
    bool screenFadedOut = false;
    bool playerControl = true;
    std::vector<std::pair<int32_t, int32_t>> controlChanges; // (frame, flag)

    // The player's health state.
    float healingRate[2] = {1.0f, 1.0f};
    int restoreCalls = 0;
    int32_t playerValue = 250; // what the value query answers, and what the set call stores
    int32_t coreValues[3] = {50, 50, 50};

    // The deadeye lock: IS_PLAYER_FREE_AIMING's answer (the model's player starts
    // aiming, so that the lock shows), and the controls held off in the current frame.
    int32_t freeAiming = 1;
    std::vector<uint32_t> controlsHeldOff;

    // The game's script global 1935445.
    uint64_t intensityGlobal = 0;

    // The pass-out effect "PlayerDrunk01_PassOut": it starts once the global has
    // held 1.0 for passOutAfterMs and runs passOutDurationMs. Tests can also set
    // effects["PlayerDrunk01_PassOut"] directly (autoPassOut false to keep it so).
    bool autoPassOut = true;
    uint32_t passOutAfterMs = 4000;
    uint32_t passOutDurationMs = 8000;
    uint32_t atTopMs = 0; // how long the global has held 1.0
    uint32_t passOutLeftMs = 0;
    int passOuts = 0;

    // Sprites drawn in the current frame, in order.
    std::vector<Sprite> sprites;

    // Scripted answers: consulted before the model; return true to answer with
    // *result (up to three slots) instead.
    std::map<uint64_t, std::function<bool(const Call&, uint64_t* result)>> overrides;

    // A hostile game (hostile_game.cpp): with hostileRate above 0, that share of the
    // answers is replaced by a hostile value of its kind, drawn from hostileSeed: an
    // odd integer or handle, a NaN or infinite float, a position far away, an
    // out-variable left unwritten, filled with garbage or written as a whole 8-byte
    // script slot, a new prompt given the handle of one just deleted, a null result
    // pointer, and getGlobalPtr answering null or one of strayCells instead of the
    // global's cell. Whole-session faults (the timer standing still or jumping, a
    // scenario that never ends) are the test's to set through the fields above.
    double hostileRate = 0.0;
    uint64_t hostileSeed = 0;
    uint64_t hostileAnswers = 0; // answers replaced so far
    uint64_t strayCells[4] = {};
    bool scenarioNeverEnds = false; // the clearing call leaves a running scenario running
};

// ---------------------------------------------------------------------------
// Running a session.
//
// Replaying a recording (StartOptions::replay): there is no game model. Each
// playFrames(1) is the next recorded resume of the script, which runs until its next
// scriptWait, each of its calls answered from the recording; a recorded key table
// entry goes to the keyboard handler while the key test reads the tick count it
// follows (a recording of format 1: its key events, before the script runs). At the first call that
// differs from the recorded one the script is not resumed again (replayStatus()
// says where); when the recording runs out it is not resumed again either.

struct StartOptions {
    std::string pluginPath;    // empty: the plug-in this build made
    std::string workDir;       // empty: a fresh temporary folder, removed by stop()
    bool withSettings = false; // write Tolvenmire.ini with `settings` before loading
    std::string settings;
    bool withSave = false; // write Tolvenmire.dat with `save` before loading
    std::string save;
    bool record = true;                        // keep every call in calls()
    std::function<void(const Call&)> observer; // called for every call as it happens, up to
                                               // the unregistrations in stop(); dropped then
    // Replay: every answer comes from this recording instead of the game model, and
    // each call is held against the recorded one (see "Replaying a recording" below).
    // The settings and the save file are written from it; `settings` and `save` are
    // not used. It must outlive the session.
    const rec::Recording* replay = nullptr;
    // The recording's events one at a time instead of replay->events (false when
    // there are none left), for a recording too long to hold whole; `replay` then
    // gives only its head (the settings and the save file).
    std::function<bool(rec::Event* next)> replayEvents;
};

// Sets up the folder, makes it the current directory, loads the plug-in (its
// static initialisation reads the settings there) and calls DllMain with
// DLL_PROCESS_ATTACH. False, with the reason in *error, when the plug-in cannot be
// loaded or does not register a script. The world is taken as it is: at its
// defaults, with whatever the test set since the last stop. The call log and the
// violations start empty.
bool start(const StartOptions& options, std::string* error);

// DllMain with DLL_PROCESS_DETACH, unload, back to the old current directory. The
// script's fiber is abandoned where it waits, as the script hook abandons it. The
// world and the tick count go back to their defaults for the next session; the
// call log and the violations stay readable until the next start.
void stop();
bool running();

// Sends the loaded plug-in a thread attach and a thread detach notification: on
// Linux by calling its DllMain with DLL_THREAD_ATTACH (2) and DLL_THREAD_DETACH
// (3), on Windows by starting and joining a thread, so that the loader sends them.
// False if a DllMain call made here returned anything but TRUE.
bool notifyThreadAttachDetach();

// Plays game frames: the world advances by one frame, then the script is resumed
// if its wait is over and runs until its next scriptWait. scriptWait(0) ends a
// frame; scriptWait(3000) lets 3000 ms of game timer pass before the next resume.
void playFrames(int count);
// Plays frames until at least `ms` of game timer has passed.
void playMs(uint32_t ms);
int frame();           // frames played since start
int resumes();         // times the script fiber has been resumed
bool scriptWaiting();  // the script is waiting (always, between frames)
uint32_t waitingFor(); // the milliseconds of its current wait

// A keyboard event as the script hook delivers it: the registered handler is called
// on the calling thread (any thread), outside the script's run. A thread that sends
// events must be done before stop() unloads the plug-in.
void keyEvent(uint32_t key, int32_t fifth, int32_t sixth, int32_t seventh);
void keyEventRaw(uint32_t key, uint16_t second, uint8_t third, int32_t fourth, int32_t fifth, int32_t sixth,
                 int32_t seventh);

// The system tick count the plug-in reads through GetTickCount. It advances with
// the frames by frameMs unless frozen; tests set it to test the 100 ms key window.
void setTickCount(uint32_t ms);
uint32_t tickCount();
void freezeTickCount(bool frozen);

// Where a replay stands.
struct ReplayStatus {
    bool active = false;    // the session replays a recording
    bool diverged = false;  // a call differs from the recorded one: the replay stopped there
    bool exhausted = false; // the recording ran out: the replay ended without a difference
    size_t next = 0;        // the next recorded event
    int frame = 0;          // the frame of the difference
    int block = 0;          // the recording's block holding the recorded event
    uint32_t gameTime = 0;  // the last game-timer answer before it
    bool timerRead = false; // the game timer was answered at all (else gameTime is reckoned by frames)
    std::string recorded;   // the recorded event and the call made, decoded as describe() does
    std::string made;
    std::vector<std::string> before; // the few calls before it, oldest first
};
const ReplayStatus& replayStatus();
// The replay is over: stopped at a difference or at the recording's end.
bool replayOver();

World& world();
const std::vector<Call>& calls();
std::vector<Call> callsInFrame(int frame);
void clearCalls();

// Protocol faults seen: a native the model does not know, more than 12 arguments,
// a nativeInit before the last call ended, a push or call without an init, a
// native, wait or global access off the script fiber, a call into the host from the
// keyboard handler. A test passes only with none.
const std::vector<std::string>& violations();

// The plug-in's own state, read through the symbols it exports.
const ScriptState* pluginState();
const Settings* pluginSettings();

std::string workDir();       // the session's folder
std::string defaultPlugin(); // the plug-in this build made

// True while the calling thread is inside one of the host's functions (the nine,
// GetTickCount, or the game model): allocations made then are the host's, not the
// plug-in's.
bool inHost();

} // namespace sim
