// A written scenario played with the build that made the recording, each answer of
// the stand-in world held against the game's in the recording, call by call
// (scenario_writing.h). Handles the game hands out (a prompt, its label's text, the
// targeted ped) are the game's names for things: only whether there is one is held
// to the recording's; a ped's prompt group not even that. A run of like differences in
// frames in a row is told once. Where the plug-in's calls part from the recording's
// (an answer before made it decide otherwise) nothing after is compared.
#include "player/scenario_writing.h"

#include "player/play_session.h"
#include "player/scenario.h"
#include "player/scenario_writer.h"

#include "replay/recording_stream.h"
#include "sim.h"
#include "standin/game_hashes.h"
#include "standin/native_table.h"

#include <cinttypes>
#include <cmath>
#include <cstring>
#include <memory>

namespace player {

namespace {

bool isHandle(uint64_t hash) { return hash == natives::UiPromptRegisterBegin || hash == natives::VarString; }

std::string answerText(char kind, const uint64_t* r) {
    char b[96];
    switch (kind) {
    case 'f':
        return floatText(sim::floatOf(r[0]));
    case 'u': {
        const hashes::Constant* c = hashes::find((uint32_t)r[0]);
        if (c) return c->name;
        snprintf(b, sizeof b, "0x%08" PRIX32, (uint32_t)r[0]);
        return b;
    }
    case 'P':
        return "(" + floatText(sim::floatOf(r[0])) + ", " + floatText(sim::floatOf(r[1])) + ", " +
               floatText(sim::floatOf(r[2])) + ")";
    default:
        return std::to_string((int32_t)(uint32_t)r[0]);
    }
}

// The call as --trace writes it, from its name on, without its answer.
std::string callText(const sim::Call& c) {
    std::string line = sim::describe(c);
    const size_t name = line.find(' ', line.find("0x"));
    if (name != std::string::npos) line = line.substr(name + 1);
    const size_t arrow = line.rfind(" -> ");
    return arrow == std::string::npos ? line : line.substr(0, arrow);
}

class Comparer {
  public:
    Comparer(const std::vector<std::string>& paths, uint32_t startTimer, CheckOutcome* out)
        : paths_(paths), startTimer_(startTimer), out_(out) {}

    // Every run's recording opened for reading. False, with out->error, when one cannot be.
    bool open() {
        for (const std::string& path : paths_) {
            std::string error;
            streams_.push_back(std::make_unique<RecordingStream>());
            if (!streams_.back()->open(path, &error)) return out_->error = error, false;
        }
        return true;
    }

    void call(const sim::Call& c) {
        if (parted_) return;
        if (c.kind == sim::CallKind::ScriptRegister) return nextRun(c);
        if (c.kind != sim::CallKind::Native && c.kind != sim::CallKind::Wait &&
            c.kind != sim::CallKind::GlobalPtr)
            return;
        if (!stream_ || ended_) return;
        if (!nextComparable(&event_)) {
            ended_ = true; // the recording ends before the scenario: nothing more to hold it to
            return;
        }
        at_ = (Millis)(uint32_t)(c.timer - startTimer_);
        compare(c, event_);
    }

    void finish() {
        for (auto& [key, open] : open_) close(open);
        open_.clear();
    }

  private:
    struct Open {
        LeftOut first;
        std::string recorded, model, why;
        int last = 0, frames = 1, calls = 1;
        bool alike = true, consecutive = true;
    };

    // The next run's recording, opened before the session was played: a run starts
    // when the plug-in registers its script, which on Windows it does from its entry
    // point, under the loader lock, where no reader thread may start or end.
    void nextRun(const sim::Call&) {
        finish();
        ++run_;
        ended_ = false;
        frame_ = 1;
        stream_ = (size_t)run_ < streams_.size() ? streams_[(size_t)run_].get() : nullptr;
    }

    bool nextComparable(rec::Event* e) {
        while (stream_->next(e)) {
            if (e->kind == rec::EventKind::Resume) {
                ++frame_;
                continue;
            }
            if (e->kind == rec::EventKind::Native || e->kind == rec::EventKind::Wait ||
                e->kind == rec::EventKind::Global)
                return true;
        }
        return false;
    }

    void part(const std::string& made, const std::string& recorded) {
        finish();
        out_->differences.push_back({run_, frame_, at_,
                                     "the plug-in " + made + " where the recording has " + recorded +
                                         ": an answer before made it decide otherwise; from here on the "
                                         "session is not the recording's, and nothing after is compared"});
        parted_ = true;
    }

    // A difference, one of a run: the calls with the same arguments that differ, one
    // after the other, are told once.
    void differ(const std::string& what, const std::string& recorded, const std::string& model,
                const std::string& why = std::string()) {
        auto it = open_.find(what);
        if (it != open_.end()) {
            Open& o = it->second;
            o.consecutive = o.consecutive && frame_ - o.last <= 1;
            if (o.last != frame_) ++o.frames;
            o.last = frame_;
            ++o.calls;
            o.alike = o.alike && o.recorded == recorded && o.model == model;
            return;
        }
        Open o;
        o.first = {run_, frame_, at_, what};
        o.recorded = recorded;
        o.model = model;
        o.why = why;
        o.last = frame_;
        open_[what] = o;
    }

    // A call that agrees ends the run of differences of its kind (its text made only
    // when one is open).
    void agree(const sim::Call& c) {
        if (open_.empty()) return;
        auto it = open_.find(callText(c));
        if (it == open_.end()) return;
        close(it->second);
        open_.erase(it);
    }

    void close(const Open& o) {
        LeftOut l = o.first;
        l.what += " answered " + o.recorded;
        if (o.calls > 1 && o.alike && o.consecutive)
            l.what += " for " + std::to_string(o.frames) + " frames (to frame " + grouped(o.last) + ")";
        l.what += "; the model answers " + o.model;
        if (o.calls > 1 && !(o.alike && o.consecutive))
            l.what += std::string(" (and ") + (o.alike ? "so" : "otherwise") + " at its " +
                      std::to_string(o.calls - 1) + (o.calls == 2 ? " call" : " calls") +
                      " after, to frame " + grouped(o.last) + ")";
        l.what += o.why;
        out_->differences.push_back(l);
    }

    void compare(const sim::Call& c, const rec::Event& e) {
        if (c.kind == sim::CallKind::Wait) {
            if (e.kind != rec::EventKind::Wait || e.waitMs != c.waitMs)
                part("waits " + std::to_string(c.waitMs) + " ms", recorded(e));
            return;
        }
        if (c.kind == sim::CallKind::GlobalPtr) {
            if (e.kind != rec::EventKind::Global || e.globalIndex != c.globalIndex)
                return part("asks for the global " + std::to_string(c.globalIndex), recorded(e));
            if (e.globalNull)
                differ("getGlobalPtr(" + std::to_string(c.globalIndex) + ")", "no cell", "its cell");
            return;
        }
        const sim::NativeInfo* info = sim::findNative(c.hash);
        if (e.kind != rec::EventKind::Native || e.hash != c.hash || !info)
            return part("calls " + (info ? natives::fullName(*info) : std::string("a native")), recorded(e));
        if (e.nullResult)
            return differ(callText(c), "with no result (a null pointer)", answerText(info->result, c.result));
        // A ped's prompt group is the game's number for it, whatever it is.
        if (c.hash == natives::UiPromptGetGroupIdForTargetEntity) return;
        if (isHandle(c.hash)) {
            if ((e.result[0] == 0) != (c.result[0] == 0))
                differ(callText(c), e.result[0] ? "a handle" : "0", c.result[0] ? "a handle" : "0");
            else
                agree(c);
            return;
        }
        if (c.hash == natives::GetPlayerInteractionTargetEntity) {
            int32_t game = 0, model = 0;
            if (e.after[1].size() >= 4) memcpy(&game, e.after[1].data(), 4);
            if (c.args[1]) memcpy(&model, (const void*)(uintptr_t)c.args[1], 4);
            if ((uint32_t)e.result[0] != (uint32_t)c.result[0] || (game == 0) != (model == 0))
                differ(callText(c), answerText('i', e.result) + (game ? " with a ped" : " with none"),
                       answerText('i', c.result) + (model ? " with a ped" : " with none"));
            else
                agree(c);
            return;
        }
        bool same = true;
        switch (info->result) {
        case 'v':
            return;
        case 'f':
            same = sim::sameFloat((uint32_t)e.result[0], (uint32_t)c.result[0]);
            break;
        case 'P':
            for (int k = 0; k < 3; ++k)
                same = same && sim::sameFloat((uint32_t)e.result[k], (uint32_t)c.result[k]);
            break;
        default:
            same = (uint32_t)e.result[0] == (uint32_t)c.result[0];
            break;
        }
        if (same) return agree(c);
        // Why no line gives it, where the reason is the scenario's bounds.
        std::string why;
        if (c.hash == natives::GetSecondsSinceBaseYear && (int32_t)e.result[0] < 0)
            why = "; a scenario's game clock runs from 1898 on (0 to 2,147,483,647 in-game seconds)";
        if (c.hash == natives::GetGameTimer) why = "; a scenario's frames run forward";
        differ(callText(c), answerText(info->result, e.result), answerText(info->result, c.result), why);
    }

    static std::string recorded(const rec::Event& e) {
        if (e.kind == rec::EventKind::Wait) return "a wait of " + std::to_string(e.waitMs) + " ms";
        if (e.kind == rec::EventKind::Global) return "getGlobalPtr(" + std::to_string(e.globalIndex) + ")";
        const sim::NativeInfo* n = sim::findNative(e.hash);
        return n ? natives::fullName(*n) : "a native unknown here";
    }

    const std::vector<std::string>& paths_;
    uint32_t startTimer_;
    CheckOutcome* out_;
    std::vector<std::unique_ptr<RecordingStream>> streams_;
    RecordingStream* stream_ = nullptr;
    rec::Event event_; // the recorded event compared, made once
    int run_ = -1;
    int frame_ = 1;
    Millis at_ = 0;
    bool parted_ = false, ended_ = false;
    std::map<std::string, Open> open_;
};

} // namespace

void checkScenario(const Scenario& scenario, const std::vector<std::string>& recordings,
                   const WriteOptions& options, CheckOutcome* out) {
    *out = CheckOutcome();
    Comparer comparer(recordings, scenario.hasGameTimer ? scenario.gameTimer : sim::World().timer, out);
    if (!comparer.open()) return;
    PlayOptions play;
    play.pluginPath = options.pluginPath;
    play.interrupted = options.interrupted;
    play.onCall = [&comparer](const sim::Call& c, int) { comparer.call(c); };
    SessionResult result;
    if (!player::play(scenario, play, &result)) {
        if (result.error == "interrupted")
            out->interrupted = true;
        else
            out->error = result.error;
        return;
    }
    comparer.finish();
    for (const ExpectResult& r : result.expectations) {
        ++out->expectations;
        if (r.passed) continue;
        if (out->failed++ == 0) {
            out->firstFailed = "at " + formatTime(r.at) + ": expected " + r.written + ", got " + r.got;
            out->firstFailedAt = r.at;
        }
    }
}

} // namespace player
