// The timeline held against what the plug-in did: every entry that says the
// plug-in drank, saved, served, charged, held for a mission, showed or withdrew a
// prompt, or set the deadeye lock, against the calls of its frame (and the save
// file, which no call shows); and every such call against an entry that tells it.
#pragma once

#include "player/play_session.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace truth {

// What the calls of one frame did, as far as the timeline tells it.
struct FrameEvidence {
    std::vector<int> missionAnswers; // the mission flag's answers, in order
    bool tick = false;               // a TickUpdate began
    int drinkStarts = 0;             // the drinking scenario started for a drink
    int serviceScenarios = 0;        // ... for the bartender's service, right before its save
    int clears = 0;                  // the player's tasks cleared
    bool stopRead = false;           // a stop control read non-zero
    // Prompts by handle and label: whose completion test answered yes, made, and
    // deleted while alive, in order.
    std::vector<std::pair<int32_t, std::string>> completed, created, deleted;
    std::vector<int32_t> charges;
    bool controlTaken = false, controlBack = false;
    bool lockLooked = false; // SaloonCheck ran, so the deadeye lock was applied before it
    bool lockOn = false;     // ... and asked whether the player aims: the lock is set
    uint64_t firstNative = 0, lastNative = 0;
    bool saved = false; // the save file was written in the frame
    std::string saveText;
};

// A played session with its evidence: the entries, and each frame's calls.
struct Session {
    player::Scenario scenario;
    player::SessionResult result;
    std::vector<player::Entry> entries;
    std::vector<FrameEvidence> frames; // by Entry::frame; [0] before the first
    std::string error;                 // the scenario could not be read or played
};

// Plays the scenario text (`path` names it and anchors its files) and gathers the
// evidence; *s.error says why not.
Session play(const std::string& text, const std::string& path, player::PlayOptions options = {});

// Where the timeline and the calls disagree, one line each; none when they agree.
std::vector<std::string> disagreements(const Session& s, const std::vector<player::Entry>& entries);

} // namespace truth
