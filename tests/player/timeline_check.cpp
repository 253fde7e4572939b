// The timeline held against what the plug-in did (timeline_check.h).
#include "timeline_check.h"

#include "standin/native_table.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace truth {

namespace fs = std::filesystem;
using player::Entry;
using player::Fact;
using player::Topic;

namespace {

const char* const DrinkLabel = "Drink From Flask";

std::string readAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool has(const std::vector<std::pair<int32_t, std::string>>& v, int32_t handle, const std::string& label) {
    return std::find(v.begin(), v.end(), std::make_pair(handle, label)) != v.end();
}

// Gathers each frame's evidence from the calls as they are made. The save file
// shows no call: its time of writing is set far back before the first frame and
// after each save, so that a frame after which it is newer wrote it.
struct Gatherer {
    explicit Gatherer(Session& session) : s(session) {}
    Session& s;
    std::map<uint64_t, std::string> texts; // label texts by the game's text handle
    std::map<int32_t, std::string> labels; // prompts' labels by handle
    std::set<int32_t> alive;               // prompts made and not deleted
    bool armed = false;
    const fs::file_time_type longAgo = fs::file_time_type::clock::now() - std::chrono::hours(24 * 400);

    FrameEvidence& at(int frame) {
        if ((int)s.frames.size() <= frame) s.frames.resize((size_t)frame + 1);
        return s.frames[(size_t)frame];
    }
    static fs::path saveFile() { return fs::path(sim::workDir()) / "Tolvenmire.dat"; }

    void call(const sim::Call& c, int frame) {
        FrameEvidence& e = at(frame);
        if (!armed && frame > 0) {
            armed = true;
            std::error_code ec;
            fs::last_write_time(saveFile(), longAgo, ec); // none yet: the first save makes it
        }
        if (c.kind != sim::CallKind::Native) return;
        if (!e.firstNative) e.firstNative = c.hash;
        e.lastNative = c.hash;
        const int32_t h = c.i32(0);
        switch (c.hash) {
        case natives::GetMissionFlag:
            e.missionAnswers.push_back(c.resultInt() != 0 ? 1 : 0);
            break;
        case natives::PlayerPedId:
            e.tick = true;
            break;
        case natives::TaskStartScenarioInPlaceHash:
            ++(c.i32(2) == -1 ? e.drinkStarts : e.serviceScenarios);
            break;
        case natives::ClearPedTasks:
            ++e.clears;
            break;
        case natives::GetControlNormal:
            if (c.resultFloat() < 0.0f || c.resultFloat() > 0.0f) e.stopRead = true;
            break;
        case natives::UiPromptHasHoldModeCompleted:
            if (c.resultInt() != 0) e.completed.push_back({h, labels[h]});
            break;
        case natives::VarString:
            texts[c.result[0]] = c.text[2];
            break;
        case natives::UiPromptRegisterBegin:
            alive.insert(c.resultInt());
            labels[c.resultInt()] = "";
            e.created.push_back({c.resultInt(), ""});
            break;
        case natives::UiPromptSetText:
            labels[h] = texts[c.args[1]];
            for (auto& [handle, label] : e.created)
                if (handle == h) label = labels[h];
            break;
        case natives::UiPromptDelete:
            if (alive.erase(h)) e.deleted.push_back({h, labels[h]});
            break;
        case natives::MoneyDecrementCashBalance:
            e.charges.push_back(h);
            break;
        case natives::SetPlayerControl:
            (c.i32(1) == 0 ? e.controlTaken : e.controlBack) = true;
            break;
        case natives::IsPlayerFreeAiming:
            e.lockOn = true;
            break;
        case natives::GetInteriorFromEntity:
            e.lockLooked = true;
            break;
        default:
            break;
        }
    }

    void frameDone(int frame) {
        FrameEvidence& e = at(frame);
        std::error_code ec;
        const fs::file_time_type written = fs::last_write_time(saveFile(), ec);
        if (ec || written == longAgo) return;
        e.saved = true;
        e.saveText = readAll(saveFile());
        fs::last_write_time(saveFile(), longAgo, ec);
    }

    // A quit unloads the plug-in: the game's prompts go with it.
    void entry(const Entry& e) {
        s.entries.push_back(e);
        if (e.topic == Topic::Restart) alive.clear();
    }
};

} // namespace

Session play(const std::string& text, const std::string& path, player::PlayOptions options) {
    Session s;
    std::vector<player::ParseError> errors;
    if (!player::parseScenario(text, path, &s.scenario, &errors)) {
        s.error = errors.empty() ? "unreadable" : errors[0].text();
        return s;
    }
    Gatherer g(s);
    options.onEntry = [&g](const Entry& e) { g.entry(e); };
    options.onCall = [&g](const sim::Call& c, int frame) { g.call(c, frame); };
    options.onFramePlayed = [&g](int frame) { g.frameDone(frame); };
    if (!player::play(s.scenario, options, &s.result)) s.error = s.result.error;
    s.frames.resize((size_t)s.result.frames + 2);
    return s;
}

namespace {

// The facts of the calls over the session: the script's holds as its looks at the
// mission flag show them, and the deadeye lock as SaloonCheck's frames show it.
struct Reading {
    std::vector<int> heldBefore; // by frame: the script held before it
    std::vector<int> holdStarts; // looks that found the flag up after one that found it down
    std::vector<int> holdEnds;   // and the other way
    std::vector<int> lockFrames; // frames that applied the lock, in order
    std::set<int> restarts;      // frames a new load begins with
};

Reading read(const Session& s, const std::vector<Entry>& entries) {
    Reading r;
    for (const Entry& e : entries)
        if (e.topic == Topic::Restart) r.restarts.insert(e.frame);
    const size_t n = s.frames.size();
    r.heldBefore.assign(n, 0);
    r.holdStarts.assign(n, 0);
    r.holdEnds.assign(n, 0);
    int held = 0;
    for (size_t f = 0; f < n; ++f) {
        if (r.restarts.count((int)f)) held = 0;
        r.heldBefore[f] = held;
        for (int a : s.frames[f].missionAnswers) {
            if (a && !held) ++r.holdStarts[f];
            if (!a && held) ++r.holdEnds[f];
            held = a;
        }
        if (s.frames[f].lockLooked) r.lockFrames.push_back((int)f);
    }
    return r;
}

} // namespace

std::vector<std::string> disagreements(const Session& s, const std::vector<Entry>& entries) {
    std::vector<std::string> out;
    const Reading r = read(s, entries);
    static const FrameEvidence none;
    auto ev = [&](int f) -> const FrameEvidence& {
        return f >= 0 && (size_t)f < s.frames.size() ? s.frames[(size_t)f] : none;
    };
    auto wrong = [&](const Entry& e, const std::string& why) {
        out.push_back("frame " + std::to_string(e.frame) + " (" + player::formatTime(e.at) + ") \"" + e.text +
                      "\": " + why);
    };
    auto count = [&](Fact fact, int frame) {
        return std::count_if(entries.begin(), entries.end(),
                             [&](const Entry& e) { return e.fact == fact && e.frame == frame; });
    };
    auto savedAs = [&](const Entry& e, const FrameEvidence& f, const std::string& what) {
        if (e.detail.empty()) {
            if (f.saved) wrong(e, "the save file was written in the frame (\"" + f.saveText + "\"), untold");
        } else if (!f.saved) {
            wrong(e, what + " told saved, but the save file was not written in the frame");
        } else if (f.saveText != e.detail) {
            wrong(e, what + " told saved as \"" + e.detail + "\", but the file holds \"" + f.saveText + "\"");
        }
    };

    // Each entry against its frame.
    std::map<std::string, int64_t> promptsTold; // by label: each shown, withdrawn, completed, flickered
    for (const Entry& e : entries) {
        const FrameEvidence& f = ev(e.frame);
        const auto handle = (int32_t)e.value;
        switch (e.fact) {
        case Fact::None:
            break;
        case Fact::DrinkStarted: {
            if (f.drinkStarts == 0) wrong(e, "no drinking scenario was started in the frame");
            const bool byPrompt = std::any_of(f.completed.begin(), f.completed.end(),
                                              [](const auto& p) { return p.second == DrinkLabel; });
            if ((e.value == 1) != byPrompt)
                wrong(e, byPrompt ? "the drink prompt's completion started it"
                                  : "no drink prompt was completed");
            break;
        }
        case Fact::DrinkStopped:
            if (f.clears == 0) wrong(e, "the player's tasks were not cleared in the frame");
            if ((e.value == 1) != f.stopRead)
                wrong(e,
                      f.stopRead ? "a stop control read non-zero, untold" : "no stop control read non-zero");
            savedAs(e, f, "the drink");
            break;
        case Fact::RefillSaved:
            if (f.serviceScenarios == 0) wrong(e, "the service's scenario did not start in the frame");
            savedAs(e, f, "the refill");
            break;
        case Fact::PromptShown:
            if (!has(f.created, handle, e.detail) || has(f.deleted, handle, e.detail))
                wrong(e, "no prompt \"" + e.detail + "\" was made and kept in the frame");
            promptsTold[e.detail] += 1;
            break;
        case Fact::PromptShownAndGone:
            if (!has(f.created, handle, e.detail) || !has(f.deleted, handle, e.detail))
                wrong(e, "no prompt \"" + e.detail + "\" was made and deleted in the frame");
            promptsTold[e.detail] += 1;
            break;
        case Fact::PromptWithdrawn:
        case Fact::PromptCompleted:
            if (!has(f.deleted, handle, e.detail)) wrong(e, "the prompt was not deleted in the frame");
            if (has(f.completed, handle, e.detail) != (e.fact == Fact::PromptCompleted))
                wrong(e, e.fact == Fact::PromptCompleted ? "its completion was not answered"
                                                         : "its completion was answered: it was completed");
            promptsTold[e.detail] += 1;
            break;
        case Fact::PromptFlicker:
            promptsTold[e.detail] += e.value;
            break;
        case Fact::HoldStarted:
            if (r.holdStarts[(size_t)std::min<int>(e.frame, (int)s.frames.size() - 1)] == 0)
                wrong(e, "the script did not find the mission flag up in the frame after finding it down");
            break;
        case Fact::HoldEnded:
            if (r.holdEnds[(size_t)std::min<int>(e.frame, (int)s.frames.size() - 1)] == 0)
                wrong(e, "the script did not find the mission flag down in the frame after finding it up");
            if (f.tick) wrong(e, "the frame ran TickUpdate: the hold had ended before");
            break;
        case Fact::MissionEndedHeld:
            if (!r.heldBefore[(size_t)std::min<int>(e.frame, (int)s.frames.size() - 1)])
                wrong(e, "the script was not holding: its last look found the flag down");
            break;
        case Fact::MissionUnseen:
            for (int m = (int)e.value; m < e.frame && m < (int)s.frames.size(); ++m) {
                if (m == (int)e.value && r.heldBefore[(size_t)m]) wrong(e, "the script held already");
                for (int a : ev(m).missionAnswers)
                    if (a) {
                        wrong(e, "the script found the flag up in frame " + std::to_string(m));
                        m = e.frame;
                        break;
                    }
            }
            break;
        case Fact::ServiceStarted:
            if (!f.controlTaken) wrong(e, "the player's control was not taken in the frame");
            break;
        case Fact::ControlBack:
            if (!f.controlBack) wrong(e, "the player's control was not given back in the frame");
            break;
        case Fact::Charged:
            if (std::find(f.charges.begin(), f.charges.end(), (int32_t)e.value) == f.charges.end())
                wrong(e, "no charge of " + std::to_string(e.value) + " cents in the frame");
            break;
        case Fact::Served: {
            if (f.lastNative != natives::GetGameTimer)
                wrong(e, "the frame did not end in the service's last look at the game timer");
            const int next = e.frame + 1;
            if (next < (int)s.frames.size() && !r.restarts.count(next) && ev(next).firstNative &&
                ev(next).firstNative != natives::GetMissionFlag)
                wrong(e, "the next frame goes on with the service: it does not begin a pass of the script");
            break;
        }
        case Fact::DeadeyeOn:
        case Fact::DeadeyeOff: {
            auto g = std::lower_bound(r.lockFrames.begin(), r.lockFrames.end(), e.frame);
            if (g != r.lockFrames.end() && ev(*g).lockOn != (e.fact == Fact::DeadeyeOn))
                wrong(e, "the lock was applied " + std::string(ev(*g).lockOn ? "on" : "off") + " in frame " +
                             std::to_string(*g));
            break;
        }
        }
    }

    // Each happening of the calls against an entry that tells it.
    std::map<std::string, int64_t> promptsMade; // by label: each made, and each deleted of an earlier frame
    for (size_t i = 0; i < s.frames.size(); ++i) {
        const int fr = (int)i;
        const FrameEvidence& f = s.frames[i];
        auto untold = [&](const std::string& what) {
            out.push_back("frame " + std::to_string(fr) + ": " + what + ", and no entry tells it");
        };
        if (f.drinkStarts && !count(Fact::DrinkStarted, fr)) untold("a drink's scenario was started");
        if (f.saved && !count(Fact::RefillSaved, fr) &&
            !std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
                return e.fact == Fact::DrinkStopped && e.frame == fr && !e.detail.empty();
            }))
            untold("the save file was written (\"" + f.saveText + "\")");
        if (r.holdStarts[i] && !count(Fact::HoldStarted, fr)) untold("the script found the mission flag up");
        if (r.holdEnds[i] && !count(Fact::HoldEnded, fr)) untold("the script found the mission flag down");
        if ((int64_t)f.charges.size() > count(Fact::Charged, fr)) untold("a charge was made");
        if (f.controlTaken && !count(Fact::ServiceStarted, fr)) untold("the player's control was taken");
        for (const auto& [h, label] : f.created) promptsMade[label] += 1;
        for (const auto& [h, label] : f.deleted)
            if (!has(f.created, h, label)) promptsMade[label] += 1;
    }
    for (const auto& [label, made] : promptsMade)
        if (promptsTold[label] != made)
            out.push_back("the prompt \"" + label + "\" was made or deleted " + std::to_string(made) +
                          " times, told " + std::to_string(promptsTold[label]));

    // The lock's changes between the frames that applied it, each told.
    int previous = -1;
    for (int g : r.lockFrames) {
        const bool restarted =
            previous >= 0 && r.restarts.lower_bound(previous + 1) != r.restarts.upper_bound(g);
        const bool was = previous >= 0 && !restarted ? ev(previous).lockOn : false;
        if (ev(g).lockOn != was) {
            const Fact fact = ev(g).lockOn ? Fact::DeadeyeOn : Fact::DeadeyeOff;
            const bool told = std::any_of(entries.begin(), entries.end(), [&](const Entry& e) {
                return e.fact == fact && e.frame > (restarted || previous < 0 ? 0 : previous) && e.frame <= g;
            });
            if (!told)
                out.push_back("frame " + std::to_string(g) + ": the deadeye lock was applied " +
                              (ev(g).lockOn ? "on" : "off") + ", and no entry tells it");
        }
        previous = g;
    }

    // Each service served before the next begins, unless the game quits first (or the
    // session ends).
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].fact != Fact::ServiceStarted) continue;
        auto next = std::find_if(entries.begin() + (std::ptrdiff_t)i + 1, entries.end(), [](const Entry& e) {
            return e.fact == Fact::Served || e.fact == Fact::ServiceStarted || e.topic == Topic::Restart;
        });
        if (next != entries.end() && next->fact == Fact::ServiceStarted)
            out.push_back("frame " + std::to_string(entries[i].frame) + ": a service never told served");
    }
    return out;
}

} // namespace truth
