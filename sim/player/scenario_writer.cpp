// A recording written as a scenario (scenario_writer.h). The recording is replayed
// with the build that made it, frame by frame, and each frame read three ways:
//   - its time: the game timer's readings give the frames' lengths, and the frames
//     the script waited through unseen (a mission's hold) get the frame rate's, or
//     what makes the next reading come right;
//   - the world and the player: the game's answers, made lines (world_lines.cpp);
//   - what the plug-in did, from its state and its calls: expect lines.
// Then the scenario is played with the same build and its world's answers held
// against the recording's (answer_check.cpp), and what could not be said is listed.
#include "player/scenario_writer.h"

#include "player/game_folder.h"
#include "player/scenario.h"
#include "player/scenario_writing.h"
#include "player/settings_file.h"
#include "player/world_tables.h"

#include "base/key_names.h"
#include "base/setting_values.h"

#include "replay/recording_reader.h"
#include "replay/recording_stream.h"
#include "sim.h"
#include "standin/native_table.h"
#include "standin/printable_text.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <memory>
#include <set>

namespace player {

namespace {

// What a written scenario keeps free for its header and its end.
const size_t HeaderRoom = 64 * 1024;
// The most cases the header lists one by one.
const size_t MostListed = 60;
// The frames a frames line gives at most, for lines a reader can follow.
const size_t LengthsPerLine = 40;

} // namespace

// ---------------------------------------------------------------------------
// The notation.

size_t LineBook::add(Millis at, int rank, const std::string& text, const std::string& note) {
    Line l;
    l.at = at;
    l.rank = rank;
    l.seq = lines_.size();
    l.text = text;
    l.note = note;
    bytes_ += text.size() + note.size() + 16;
    lines_.push_back(std::move(l));
    return lines_.size() - 1;
}

void LineBook::change(size_t index, const std::string& text) {
    bytes_ += text.size();
    bytes_ -= std::min(bytes_, lines_[index].text.size());
    lines_[index].text = text;
}

std::vector<Line> LineBook::sorted() const {
    std::vector<Line> out = lines_;
    std::stable_sort(out.begin(), out.end(), [](const Line& a, const Line& b) {
        return a.at != b.at ? a.at < b.at : a.rank != b.rank ? a.rank < b.rank : a.seq < b.seq;
    });
    return out;
}

std::string grouped(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int i = (int)digits.size() - 3; i > 0; i -= 3) digits.insert((size_t)i, ",");
    return (n < 0 ? "-" : "") + digits;
}

std::string lineTime(Millis ms) {
    char b[48];
    const int64_t s = ms / 1000;
    if (s >= 3600)
        snprintf(b, sizeof b, "%" PRId64 ":%02" PRId64 ":%02" PRId64 ".%03" PRId64, s / 3600, s / 60 % 60,
                 s % 60, ms % 1000);
    else
        snprintf(b, sizeof b, "%" PRId64 ":%02" PRId64 ".%03" PRId64, s / 60, s % 60, ms % 1000);
    return b;
}

std::string floatText(float f) {
    if (std::isnan(f)) return "nan";
    // The fewest digits that read back as the same float.
    char b[32];
    for (int digits = 6; digits <= 9; ++digits) {
        snprintf(b, sizeof b, "%.*g", digits, (double)f);
        if ((float)strtod(b, nullptr) == f && std::signbit((float)strtod(b, nullptr)) == std::signbit(f))
            break;
    }
    return b;
}

std::string quotedWord(const std::string& bytes) {
    // Escaped as the timeline shows text, which the scenario's reader reads back: a
    // recording's bytes reach the written file as no control or reordering character.
    return "\"" + sim::printable(bytes, true) + "\"";
}

std::string leftOutText(const LeftOut& l, bool withRun) {
    return (withRun ? "run " + std::to_string(l.run + 1) + ", " : std::string()) + "frame " +
           grouped(l.frame) + " (" + lineTime(l.at) + "): " + l.what;
}

namespace {

// ---------------------------------------------------------------------------
// A first look at the recordings: the frames' usual length, whether the plug-in
// asks for the pass-out effect, and the game clock's readings.

struct FirstLook {
    std::map<uint32_t, int64_t> lengths; // a frame's length after a frame, how often
    bool passOutAsked = false;
    std::vector<std::pair<int64_t, int32_t>> clock; // (the game timer's time, the reading)
    bool timed = false;                             // the first run reads the game timer
    uint32_t firstTimer = 0;
    int firstTimerFrame = 0;
    bool tested = false; // the first run's first key test: its tick count and frame
    uint32_t firstTick = 0;
    int firstTickFrame = 0;
    std::string error;
};

bool firstLook(const std::vector<std::string>& paths, FirstLook* look) {
    int64_t frames = 0;
    int64_t time = 0; // the game timer's readings, run on across runs
    bool anyTimer = false;
    uint32_t lastTimer = 0;
    for (size_t run = 0; run < paths.size(); ++run) {
        rec::Recording head;
        int frame = 1;
        int timedFrame = -10;
        uint32_t frameTimer = 0;
        bool frameTimed = false;
        int32_t lastWait = -1, waitBefore = -1;
        bool ok = rec::readRecordingEvents(
            paths[run], &head,
            [&](const rec::Event& e) {
                switch (e.kind) {
                case rec::EventKind::Resume:
                    ++frame;
                    ++frames;
                    frameTimed = false;
                    waitBefore = lastWait;
                    return frames < MostFrames;
                case rec::EventKind::Wait:
                    lastWait = (int32_t)e.waitMs;
                    return true;
                case rec::EventKind::Tick:
                    if (run == 0 && !look->tested) {
                        look->tested = true;
                        look->firstTick = e.tick;
                        look->firstTickFrame = frame;
                    }
                    return true;
                case rec::EventKind::Native:
                    break;
                default:
                    return true;
                }
                if (e.hash == natives::AnimpostfxIsRunning && e.text[0] == sim::PassOutEffect)
                    look->passOutAsked = true;
                if (e.hash == natives::GetGameTimer && !frameTimed) {
                    const uint32_t t = (uint32_t)e.result[0];
                    frameTimed = true;
                    if (run == 0 && !look->timed) {
                        look->timed = true;
                        look->firstTimer = t;
                        look->firstTimerFrame = frame;
                    }
                    if (timedFrame == frame - 1 && waitBefore == 0 && t - frameTimer > 0 &&
                        t - frameTimer <= 1000)
                        ++look->lengths[t - frameTimer];
                    if (anyTimer) time += (int32_t)(t - lastTimer);
                    anyTimer = true;
                    lastTimer = t;
                    timedFrame = frame;
                    frameTimer = t;
                }
                if (e.hash == natives::GetSecondsSinceBaseYear)
                    look->clock.push_back({time, (int32_t)e.result[0]});
                return true;
            },
            &look->error);
        if (!ok) return false;
        if (frames >= MostFrames) break;
    }
    return true;
}

// The frames' usual length, and a frame rate that gives it.
int frameRateFor(const FirstLook& look) {
    uint32_t usual = 33;
    int64_t most = 0;
    for (const auto& [length, times] : look.lengths)
        if (times > most) usual = length, most = times;
    const int nearest = (int)std::lround(1000.0 / usual);
    for (int fps : {30, 60, nearest})
        if (fps >= 1 && fps <= 1000 && frameLength(fps) == (int)usual) return fps;
    int best = 30;
    for (int fps = 1; fps <= 1000; ++fps) {
        if (frameLength(fps) == (int)usual) return fps;
        if (std::abs(frameLength(fps) - (int)usual) < std::abs(frameLength(best) - (int)usual)) best = fps;
    }
    return best;
}

// The game clock's pace in stretches: readings that follow one pace make a stretch,
// its pace the roundest that gives them all (30, 5.5); each reading gets its
// stretch's (NaN for a reading alone).
void clockPaces(const std::vector<std::pair<int64_t, int32_t>>& reads, std::vector<double>* pacesOut,
                std::vector<size_t>* ends) {
    std::vector<double>& paces = *pacesOut;
    paces.assign(reads.size(), NAN);
    ends->resize(reads.size());
    for (size_t k = 0; k < reads.size(); ++k) (*ends)[k] = k;
    size_t i = 0;
    while (i < reads.size()) {
        size_t j = i;
        while (j + 1 < reads.size()) {
            const int64_t dt = reads[j + 1].first - reads[j].first;
            const double dv = (double)reads[j + 1].second - reads[j].second;
            if (dt <= 0 || dv < 0) break;
            if (j > i) {
                const double p =
                    ((double)reads[j].second - reads[i].second) / (double)(reads[j].first - reads[i].first);
                if (std::fabs(dv - p * (double)dt) > 1.5 + 0.002 * p * (double)dt) break;
            }
            ++j;
        }
        if (j > i) {
            const double exact = ((double)reads[j].second - reads[i].second) * 1000.0 /
                                 (double)(reads[j].first - reads[i].first);
            // The roundest pace near the exact one that gives every reading of the stretch.
            auto fits = [&](double p) {
                for (size_t k = i; k <= j; ++k)
                    if (std::fabs(
                            reads[k].second -
                            (reads[i].second + p * (double)(reads[k].first - reads[i].first) / 1000.0)) > 1.0)
                        return false;
                return true;
            };
            double pace = std::round(exact * 1e6) / 1e6;
            for (double scale : {1.0, 2.0, 10.0, 100.0, 1000.0}) {
                double best = NAN;
                for (double c : {std::floor(exact * scale), std::ceil(exact * scale)}) {
                    const double p = c / scale;
                    if (fits(p) && (std::isnan(best) || std::fabs(p - exact) < std::fabs(best - exact)))
                        best = p;
                }
                if (!std::isnan(best)) {
                    pace = best;
                    break;
                }
            }
            pace = std::clamp(pace, 0.0, 1e6);
            for (size_t k = i; k <= j; ++k) paces[k] = pace, (*ends)[k] = j;
        }
        i = j + 1;
    }
}

// ---------------------------------------------------------------------------
// A recording replayed, its events read as they go to the replay: each frame's
// answers, its timer, its key test and its saves.

struct Tap {
    int run = 0;
    uint32_t drinkKey = 79;
    int frame = 1;
    int32_t lastWait = -1;
    std::deque<RecordedFrame> frames;

    RecordedFrame& current() {
        if (frames.empty() || frames.back().frame != frame) {
            RecordedFrame f;
            f.run = run;
            f.frame = frame;
            f.waitBefore = frame == 1 ? -1 : lastWait;
            frames.push_back(std::move(f));
        }
        return frames.back();
    }

    void take(const rec::Event& e) {
        if (e.kind == rec::EventKind::Resume) {
            ++frame;
            return;
        }
        RecordedFrame& f = current();
        switch (e.kind) {
        case rec::EventKind::Native:
            native(e, f);
            return;
        case rec::EventKind::Wait:
            lastWait = (int32_t)e.waitMs;
            return;
        case rec::EventKind::Global:
            if (e.globalNull) f.oddAnswer = true;
            return;
        case rec::EventKind::Tick:
            if (!f.tested) f.tested = true, f.tick = e.tick;
            return;
        case rec::EventKind::KeyRead:
        case rec::EventKind::Key:
            // Format 1 has the keyboard's events as the handler took them, before the
            // frame: the drink key's last is what the key test read.
            if (e.kind == rec::EventKind::Key && e.key != drinkKey) return;
            f.keyRead = true;
            f.key = e.key;
            f.keyTick = e.tick;
            f.keyFlags[0] = e.fifth, f.keyFlags[1] = e.sixth, f.keyFlags[2] = e.seventh;
            return;
        case rec::EventKind::Save:
            f.saves.push_back(e.save);
            return;
        default:
            return;
        }
    }

    static void native(const rec::Event& e, RecordedFrame& f) {
        if (e.hash == natives::DrawSprite) return;
        if (e.nullResult) f.oddAnswer = true;
        Answered a;
        a.hash = e.hash;
        bool text = false;
        for (int k = 0; k < e.argc && k < 12; ++k) {
            if (k < 2 && e.argKind[k] == rec::ArgKind::Value) a.arg[k] = (uint32_t)e.args[k];
            if (e.argKind[k] == rec::ArgKind::Text && !text) a.text = e.text[k], text = true;
            if (e.argKind[k] == rec::ArgKind::Record && e.after[k].size() >= 4)
                memcpy(&a.out, e.after[k].data(), 4);
        }
        if (e.hash == natives::Vdist)
            for (int k = 0; k < 6 && k < e.argc; ++k) {
                const uint32_t bits = (uint32_t)e.args[k];
                memcpy(&a.at[k], &bits, sizeof bits);
            }
        for (int k = 0; k < 3; ++k) a.result[k] = e.result[k];
        a.nullResult = e.nullResult;
        if (e.hash == natives::GetGameTimer) {
            const uint32_t t = (uint32_t)e.result[0];
            if (!f.timed)
                f.timed = true, f.timer = t;
            else if (t != f.timer)
                f.timerMoved = true;
        }
        f.answers.push_back(std::move(a));
    }

    // The frame's record, once it has been played: every event of it has gone to the
    // replay by then.
    RecordedFrame taken(int n) {
        while (!frames.empty() && frames.front().frame < n) frames.pop_front();
        RecordedFrame f;
        if (!frames.empty() && frames.front().frame == n) {
            f = std::move(frames.front());
            frames.pop_front();
        } else {
            f.run = run;
            f.frame = n;
            f.waitBefore = n == 1 ? -1 : lastWait;
        }
        return f;
    }
};

// ---------------------------------------------------------------------------
// The expect lines: what the recorded plug-in did, at the frames it did it.

struct ExpectLines {
    LineBook& book;
    bool stateKnown = true;
    std::map<std::string, std::string> written; // each subject's value as last expected
    std::set<std::string> due;                  // subjects to expect at the next frame that can
    std::set<std::string> heard;
    int64_t drinks = 0, sips = 0, refills = 0, charged = 0, passOuts = 0;
    std::string save;
    bool saved = false;
    bool held = false; // the script holds for a mission, as its calls show it
    int count = 0;

    explicit ExpectLines(LineBook& b) : book(b) {}

    std::map<std::string, std::string> values(const RecordedFrame& f) const {
        std::map<std::string, std::string> v;
        v["drinks"] = std::to_string(drinks);
        v["refills"] = std::to_string(refills);
        v["charged"] = formatMoney(charged);
        char b[32];
        if (f.global == 0) {
            v["intensity"] = "0";
        } else {
            snprintf(b, sizeof b, "%.9f", (double)sim::floatOf(f.global));
            v["intensity"] = b;
        }
        if (saved) v["save"] = quotedWord(save);
        v["held"] = held ? "on" : "off";
        if (!stateKnown) return v;
        const ScriptState& s = f.state;
        v["flask"] = std::to_string(s.flaskLevel);
        v["intake"] = std::to_string(s.intakeLevel);
        v["drunk"] = std::to_string(s.drunkLevel);
        v["sips"] = std::to_string(sips);
        v["pass-outs"] = std::to_string(passOuts);
        v["drinking"] = s.drinking ? "on" : "off";
        v["passed-out"] = s.passedOut ? "on" : "off";
        v["deadeye-lock"] = s.deadeyeLock ? "on" : "off";
        v["drink-prompt"] = s.drinkPromptActive ? "shown" : "hidden";
        v["refill-prompt"] = s.refillPromptActive ? "shown" : "hidden";
        return v;
    }

    // What the frame did, counted as the timeline counts it, and the subjects to expect.
    // A new load of the plug-in: its levels and what it read are expected afresh.
    void load() {
        held = false;
        for (const char* level : {"intake", "drunk", "flask", "intensity", "drinking", "held"}) {
            written.erase(level);
            due.insert(level);
        }
    }

    void frame(const RecordedFrame& f, const RecordedFrame& before, Millis at, bool later) {
        const ScriptState& now = f.state;
        const ScriptState& was = before.state;
        const bool started = f.calls.drinkStart || (f.stateKnown && now.drinking && !was.drinking);
        if (started) {
            ++drinks;
            due.insert("drinks");
            due.insert("drinking");
        }
        if (f.stateKnown && now.nextSipTime != was.nextSipTime) ++sips;
        if (f.stateKnown && !now.drinking && (was.drinking || started))
            due.insert("drinking"), due.insert("sips");
        for (int32_t amount : f.calls.charges) {
            ++refills;
            charged += amount;
            due.insert("refills");
            due.insert("charged");
        }
        if (!f.saves.empty()) {
            saved = true;
            save = f.saves.back();
            due.insert("save");
        }
        if (f.stateKnown) {
            if (now.passedOut != was.passedOut) due.insert("passed-out");
            if (!now.passedOut && was.passedOut) ++passOuts, due.insert("pass-outs");
            if (now.deadeyeLock != was.deadeyeLock) due.insert("deadeye-lock");
            if (now.drinkPromptActive != was.drinkPromptActive) due.insert("drink-prompt");
            if (now.refillPromptActive != was.refillPromptActive) due.insert("refill-prompt");
        }
        // The script's hold for a mission: from the look that finds the flag up to the
        // look that finds it down.
        if (f.calls.heldQuery && !held) held = true, due.insert("held");
        if (held && f.calls.missionLast == 0) held = false, due.insert("held");
        for (const std::string& line : f.spoken)
            if (heard.insert(line).second) book.add(at, 2, "expect spoken " + line), ++count;
        // A frame at the time of the one before is not one an expectation can name: what
        // it did is expected at the next frame that comes later.
        if (!due.empty() && later) expect(f, at, false);
    }

    void expect(const RecordedFrame& f, Millis at, bool all) {
        const std::map<std::string, std::string> v = values(f);
        static const char* const Levels[] = {"intake", "drunk", "flask", "intensity"};
        std::vector<std::string> subjects(due.begin(), due.end());
        for (const char* level : Levels) subjects.push_back(level);
        if (all)
            for (const auto& [subject, value] : v) subjects.push_back(subject);
        std::set<std::string> done;
        for (const std::string& subject : subjects) {
            auto it = v.find(subject);
            if (it == v.end() || !done.insert(subject).second) continue;
            auto last = written.find(subject);
            if (last != written.end() && last->second == it->second) continue;
            written[subject] = it->second;
            book.add(at, 2, "expect " + subject + " " + it->second);
            ++count;
        }
        due.clear();
    }
};

// ---------------------------------------------------------------------------
// The session, frame by frame: each frame's time, then its lines.

class SessionWriter {
  public:
    SessionWriter(const WorldStart& start, uint32_t timerAtLoad, LineBook& book,
                  std::vector<LeftOut>& leftOut)
        : length_(start.defaultLength), timerAtLoad_(timerAtLoad), book_(book), leftOut_(leftOut),
          world_(start, book, leftOut), expects_(book) {}

    void startRun(const RecordedFrame& atLoad, const rec::Recording& head, const rec::Recording& first) {
        loads_.push_back(atLoad);
        if (&head == &first) {
            firstSave_ = head.saveFound ? head.saveBytes : std::string("\x01none");
            return;
        }
        // A run after a restart reads the files the last run left.
        bool same = true;
        for (int i = 0; i < 5; ++i) same = same && head.settings[i] == first.settings[i];
        runNotes_.push_back({});
        if (!same)
            runNotes_.back().push_back(
                "the settings file read at this run's start answers otherwise than at the "
                "first run's; a scenario's settings hold for the whole session");
        expectedSave_.push_back(head.saveFound ? head.saveBytes : std::string("\x01none"));
    }
    void noteLastSave(const std::string& text) { lastSave_ = text, anySave_ = true; }
    void setStateKnown(bool known) { expects_.stateKnown = known; }

    void frame(RecordedFrame&& f) {
        if (full_) return;
        if (!f.timed) {
            pending_.push_back(std::move(f));
            if (pending_.size() < 100000) return;
            resolve(false, 0);
            return;
        }
        // The game timer's time, run on from the reading before.
        int64_t target = 0;
        bool known = true;
        if (!anyTimer_) {
            target = (int64_t)(uint32_t)(f.timer - timerAtLoad_);
        } else {
            const int32_t step = (int32_t)(f.timer - lastTimer_);
            if (step < 0 && f.run != lastTimerRun_ && f.waitBefore < 0) {
                // The game's timer started again with the game: the scenario's runs on.
                leftOut_.push_back({f.run, f.frame, lastAt_,
                                    "the game timer starts again at " + std::to_string(f.timer) +
                                        " with the game; a scenario's game time runs on through a restart"});
                known = false;
            }
            target = recordedTime_ + step;
        }
        pending_.push_back(std::move(f));
        resolve(known, target);
    }

    void finish() {
        if (!pending_.empty()) resolve(false, 0);
        if (last_) {
            const bool later = lastAt_ > expectAt_;
            if (later || !expects_.due.empty() || true) expects_.expect(*last_, lastAt_, true);
        }
        flushLengths();
        world_.finish(&setup_);
    }

    bool full() const { return full_; }
    Millis first() const { return firstAt_; }
    Millis end() const { return lastAt_; }
    int frames() const { return placed_; }
    int expectations() const { return expects_.count; }
    const std::vector<std::string>& setup() const { return setup_; }
    const std::string& cut() const { return cut_; }

  private:
    struct Step {
        Millis least, usual;
    };
    Step stepOf(const RecordedFrame& f) const {
        if (f.waitBefore < 0) return {f.run == 0 ? 0 : 1, (Millis)length_};
        if (f.waitBefore == 0) return {f.timed ? 0 : 1, (Millis)length_};
        const Millis w = f.waitBefore;
        return {w, (w + length_ - 1) / length_ * length_};
    }

    // The frames waiting for a time, and the timed one after them (when `known`): the
    // frames the script waited through get their usual lengths, made longer or
    // shorter so that the timed frame comes at its time.
    void resolve(bool known, int64_t target) {
        std::vector<Millis> steps;
        Millis least = 0, usual = 0;
        for (const RecordedFrame& f : pending_) {
            const Step s = stepOf(f);
            steps.push_back(s.usual);
            least += s.least;
            usual += s.usual;
        }
        if (known) {
            const int64_t room = target - lastAt_;
            if (room >= usual) {
                steps.back() += room - usual;
            } else {
                int64_t excess = usual - std::max<int64_t>(room, least);
                for (size_t j = steps.size(); j-- > 0 && excess > 0;) {
                    const Millis cut = std::min<Millis>(excess, steps[j] - stepOf(pending_[j]).least);
                    steps[j] -= cut;
                    excess -= cut;
                }
            }
        }
        for (size_t j = 0; j < pending_.size() && !full_; ++j) place(std::move(pending_[j]), steps[j]);
        pending_.clear();
        if (known) {
            recordedTime_ = target;
            anyTimer_ = true;
        }
    }

    // A frame at its time: its frames' lengths, then its lines.
    void place(RecordedFrame&& f, Millis step) {
        const Millis at = lastAt_ + step;
        const int64_t given = given_ + (int64_t)runLengths_.size();
        if (at > LongestSession || at / length_ + 2 + given >= MostFrames ||
            book_.bytes() + HeaderRoom >= LargestFile) {
            full_ = true;
            cut_ = "the recording goes on after frame " + grouped(f.frame) + " (" + formatTime(at) +
                   "): a scenario holds at most a day of game time, " + grouped(MostFrames) + " frames and " +
                   std::to_string(LargestFile >> 20) + " MiB; the rest is left out";
            leftOut_.push_back({f.run, f.frame, at, cut_});
            return;
        }
        if (f.timed) {
            lastTimer_ = f.timer;
            lastTimerRun_ = f.run;
        }
        FrameTime t;
        t.at = at;
        t.firstHostFrame = hostFrames_ + 1;
        hostLengths(f, step, &t.lengths);
        for (uint32_t length : t.lengths) hostFrame(length);
        const bool newRun = f.waitBefore < 0 && f.run > 0;
        if (newRun) restart(f, at);
        if (f.timerMoved)
            leftOut_.push_back(
                {f.run, f.frame, at,
                 "the game timer reads two values in one frame; in the stand-in world it stands "
                 "still through a frame"});
        const RecordedFrame& before = f.waitBefore < 0 ? loads_[(size_t)f.run] : *last_;
        world_.frame(f, t, &before);
        for (const std::string& text : f.saves) noteLastSave(text);
        const bool later = !last_ || at > lastAt_ || newRun;
        if (newRun) expects_.load();
        expects_.frame(f, before, at, later);
        if (later) expectAt_ = at;
        if (placed_ == 0) firstAt_ = at;
        lastAt_ = at;
        ++placed_;
        last_ = std::make_unique<RecordedFrame>(std::move(f));
    }

    void restart(const RecordedFrame& f, Millis at) {
        world_.restart(at);
        const size_t k = (size_t)f.run - 1;
        if (k < runNotes_.size())
            for (const std::string& note : runNotes_[k]) leftOut_.push_back({f.run, f.frame, at, note});
        if (k < expectedSave_.size()) {
            const std::string& read = expectedSave_[k];
            const std::string left = anySave_ ? lastSave_ : firstSave_;
            if (read != left)
                leftOut_.push_back({f.run, f.frame, at,
                                    "the save file read at this run's start holds " +
                                        (read == "\x01none" ? std::string("nothing") : quotedWord(read)) +
                                        "; the scenario's holds what the run before left, " +
                                        (left == "\x01none" ? std::string("nothing") : quotedWord(left))});
        }
    }

    // The frames of the stand-in world that make up a frame's step: a frame after a
    // wait of 0, or the frames of a longer wait (at the frame rate's length when they
    // come to the step, else the rate's but the last).
    void hostLengths(const RecordedFrame& f, Millis step, std::vector<uint32_t>* out) const {
        const Millis wait = f.waitBefore > 0 ? f.waitBefore : 0;
        if (wait == 0) {
            out->push_back((uint32_t)step);
            return;
        }
        const Millis frames = (wait + length_ - 1) / length_;
        if (step == frames * length_) {
            out->assign((size_t)frames, length_);
            return;
        }
        out->assign((size_t)(frames - 1), length_);
        out->push_back((uint32_t)(step - (frames - 1) * length_));
    }

    // A frame of the stand-in world: a frames line for each stretch of frames that
    // are not the frame rate's length.
    void hostFrame(uint32_t length) {
        ++hostFrames_;
        const Millis begins = hostTime_;
        hostTime_ += length;
        if (length == length_) {
            flushLengths();
            return;
        }
        // A long stretch goes on in a line of its own, where a frame begins later than
        // the one before (a frames line is taken at the first frame beginning at its time).
        if (runLengths_.size() >= LengthsPerLine && begins > runPrevBegins_) flushLengths();
        if (runLengths_.empty()) runBegins_ = begins;
        runLengths_.push_back(length);
        runPrevBegins_ = begins;
    }

    void flushLengths() {
        if (runLengths_.empty()) return;
        std::string text = "frames";
        for (size_t i = 0; i < runLengths_.size();) {
            size_t n = 1;
            while (i + n < runLengths_.size() && runLengths_[i + n] == runLengths_[i]) ++n;
            text += " " + std::to_string(runLengths_[i]) + (n > 1 ? "*" + std::to_string(n) : "");
            i += n;
        }
        book_.add(runBegins_, 0, text);
        given_ += (int64_t)runLengths_.size();
        runLengths_.clear();
    }

    uint32_t length_;
    uint32_t timerAtLoad_;
    LineBook& book_;
    std::vector<LeftOut>& leftOut_;
    WorldLines world_;
    ExpectLines expects_;
    std::vector<std::string> setup_;
    std::deque<RecordedFrame> pending_;
    std::unique_ptr<RecordedFrame> last_;
    std::vector<RecordedFrame> loads_; // each run's plug-in as loaded, before its first frame
    std::vector<std::vector<std::string>> runNotes_;
    std::vector<std::string> expectedSave_;
    std::string firstSave_, lastSave_;
    bool anySave_ = false;
    Millis lastAt_ = 0, expectAt_ = -1, firstAt_ = -1;
    int64_t recordedTime_ = 0;
    bool anyTimer_ = false;
    uint32_t lastTimer_ = 0;
    int lastTimerRun_ = 0;
    int64_t hostFrames_ = 0;
    Millis hostTime_ = 0;
    std::vector<uint32_t> runLengths_;
    Millis runBegins_ = 0, runPrevBegins_ = -1;
    int64_t given_ = 0;
    int placed_ = 0;
    bool full_ = false;
    std::string cut_;
};

// ---------------------------------------------------------------------------
// The scenario's text.

// A setting as the player wrote it, where the recording kept the text and the text
// is a key's name or a switch's word that stands for the value the plug-in took
// ("TOLVENMIRE_KEY=F5"); otherwise the value as a number.
std::string settingValueText(const rec::Recording& head, int i) {
    const uint32_t v = head.settings[i];
    const std::string& t = head.settingTexts[i];
    if (head.settingTextsKept && !t.empty() && t.find_first_of(" \t\"#=") == std::string::npos) {
        if (SettingKeys[i].kind == SettingKeyCode && keyCodeOfName(t.c_str()) >= 0 &&
            (uint32_t)keyCodeOfName(t.c_str()) == v)
            return t;
        if (SettingKeys[i].kind == SettingSwitch && switchOfWord(t.c_str()) >= 0 &&
            (uint32_t)switchOfWord(t.c_str()) == v)
            return t;
    }
    return std::to_string((int32_t)v);
}

std::string settingsLines(const rec::Recording& head) {
    std::string keys;
    for (int i = 0; i < 5; ++i) {
        const int32_t v = (int32_t)head.settings[i];
        if (v != SettingKeys[i].fallback)
            keys += std::string(" ") + SettingKeys[i].key + "=" + settingValueText(head, i);
    }
    return keys.empty() ? std::string() : "settings" + keys + "\n";
}

std::string saveLine(const rec::Recording& head) {
    if (!head.saveFound) return "";
    const std::string& b = head.saveBytes;
    char* end = nullptr;
    const long long v = b.empty() ? 0 : strtoll(b.c_str(), &end, 10);
    if (!b.empty() && end && *end == '\0' && std::to_string(v) == b && v >= INT32_MIN && v <= INT32_MAX)
        return "flask " + b + "\n";
    return "save " + quotedWord(b) + "\n";
}

std::string bodyText(const std::vector<Line>& lines, Millis end) {
    std::string out;
    for (const Line& l : lines) {
        std::string row = lineTime(l.at);
        row.resize(std::max<size_t>(row.size() + 2, 12), ' ');
        row += l.text;
        if (!l.note.empty()) {
            row.resize(std::max<size_t>(row.size() + 2, 48), ' ');
            row += "# " + l.note;
        }
        out += row + "\n";
    }
    std::string row = lineTime(end);
    row.resize(std::max<size_t>(row.size() + 2, 12), ' ');
    return out + row + "end\n";
}

std::string headerText(const std::vector<std::string>& paths, const rec::Recording& head,
                       const WrittenScenario& w, const std::vector<std::string>& listed, size_t more) {
    std::string out = "# A player's session, written by tolvenmire-sim --to-scenario from\n";
    for (const std::string& p : paths) out += "#   " + sim::printable(p) + "\n";
    out += "# (Tolvenmire " + sim::printable(head.pluginVersion) + ", recording format " +
           std::to_string(head.formatVersion) + "): " + grouped(w.frames) + " frames, " +
           formatTime(w.length) + " of game time.\n";
    out += "# Played with the build that made the recording, the stand-in world answers the\n"
           "# plug-in as the game did; the expect lines hold what the plug-in did then.\n";
    if (!w.departure.empty())
        out += "#\n# The build replayed departs from the recording: the scenario goes as far as that.\n#   " +
               sim::printable(w.departure) + "\n";
    if (!listed.empty()) {
        out += "#\n# Left out: what the game answered and no line of a scenario makes the\n"
               "# stand-in world answer (the session departs from the recording there):\n";
        for (const std::string& l : listed) out += "#   " + sim::printable(l) + "\n";
        if (more) out += "#   ... and " + grouped((int64_t)more) + " more\n";
    }
    return out + "\n";
}

} // namespace

// ---------------------------------------------------------------------------

bool writeScenario(const std::vector<std::string>& given, const WriteOptions& options, WrittenScenario* out) {
    *out = WrittenScenario();
    if (given.empty()) return out->error = "no recording", false;
    // The sessions run in a folder of their own: the recordings are found from anywhere.
    std::vector<std::string> paths;
    for (const std::string& p : given) {
        std::error_code ec;
        const std::filesystem::path whole = std::filesystem::absolute(p, ec);
        paths.push_back(ec ? p : whole.string());
    }
    FirstLook look;
    if (!firstLook(paths, &look)) return out->error = look.error, false;

    // The session's start: the frame rate, the game timer and the tick count at the load.
    const int fps = frameRateFor(look);
    const uint32_t length = (uint32_t)frameLength(fps);
    const uint32_t timerAtLoad =
        look.timed ? look.firstTimer - length * (uint32_t)look.firstTimerFrame : sim::World().timer;
    WorldStart start;
    start.defaultLength = length;
    start.passOutAsked = look.passOutAsked;
    start.clockReads = look.clock;
    clockPaces(look.clock, &start.clockPaces, &start.clockStretchEnd);
    // The tick count runs with the game timer in the stand-in world.
    const uint32_t defaultTicks = 10000000;
    const uint32_t tickBase =
        look.tested ? look.firstTick - length * (uint32_t)look.firstTickFrame : defaultTicks;
    start.tickBase = tickBase;
    if (!look.clock.empty() || look.timed) start.end = LongestSession;

    LineBook book;
    std::vector<LeftOut> leftOut;
    std::vector<rec::Recording> heads(paths.size());
    std::unique_ptr<SessionWriter> writer;
    GameFolder folder;
    std::string error;
    if (!folder.make(&error)) return out->error = error, false;
    bool stopped = false;
    for (size_t run = 0; run < paths.size() && !stopped; ++run) {
        RecordingStream stream;
        if (!stream.open(paths[run], &error)) return out->error = error, false;
        heads[run] = stream.head();
        if (run == 0) {
            start.drinkKey = heads[0].settings[0];
            writer = std::make_unique<SessionWriter>(start, timerAtLoad, book, leftOut);
        }
        Tap tap;
        tap.run = (int)run;
        tap.drinkKey = heads[0].settings[0];
        FrameCalls calls;
        std::vector<std::string> spoken;
        bool called = false;
        sim::StartOptions o;
        o.pluginPath = options.pluginPath;
        o.workDir = folder.path();
        o.record = false;
        o.replay = &stream.head();
        o.replayEvents = [&stream, &tap](rec::Event* e) {
            if (!stream.next(e)) return false;
            tap.take(*e);
            return true;
        };
        o.observer = [&](const sim::Call& c) {
            called = true;
            noteCall(c, calls);
            if (c.kind == sim::CallKind::Native && c.hash == natives::PlayPedAmbientSpeechNative)
                spoken.push_back(sim::speechOf(c, 0).line);
        };
        if (!sim::start(o, &error))
            return out->error = error.empty() ? "the plug-in could not be started" : error, false;
        RecordedFrame atLoad;
        atLoad.stateKnown = sim::pluginState() != nullptr;
        if (atLoad.stateKnown) atLoad.state = *sim::pluginState();
        writer->setStateKnown(atLoad.stateKnown);
        writer->startRun(atLoad, heads[run], heads[0]);
        RecordedFrame carried; // a format-1 key event of a frame without a key test
        for (int n = 1; !sim::replayOver(); ++n) {
            calls.clear();
            spoken.clear();
            called = false;
            sim::playFrames(1);
            if (!called) break;
            RecordedFrame f = tap.taken(n);
            if (f.keyRead && !f.tested) carried = f;
            if (f.tested && !f.keyRead && carried.keyRead) {
                f.keyRead = true;
                f.key = carried.key, f.keyTick = carried.keyTick;
                memcpy(f.keyFlags, carried.keyFlags, sizeof f.keyFlags);
                carried.keyRead = false;
            }
            f.calls = calls;
            f.spoken = spoken;
            f.stateKnown = sim::pluginState() != nullptr;
            if (f.stateKnown) f.state = *sim::pluginState();
            f.global = sim::world().intensityGlobal;
            writer->frame(std::move(f));
            if (writer->full()) {
                stopped = true;
                break;
            }
            if (options.interrupted && options.interrupted()) {
                sim::stop();
                out->interrupted = true;
                return false;
            }
        }
        const sim::ReplayStatus status = sim::replayStatus();
        if (status.diverged) {
            out->departure = "frame " + grouped(status.frame) + " of " + given[run] + ": recorded " +
                             status.recorded + "; made " + status.made;
            stopped = true;
        }
        sim::stop();
    }
    writer->finish();

    // The scenario: the setup, then the lines in time order.
    const rec::Recording& head = heads[0];
    std::string setup = settingsLines(head) + saveLine(head);
    if (fps != 30) setup += "fps " + std::to_string(fps) + "\n";
    if (timerAtLoad != sim::World().timer) setup += "game-timer " + std::to_string(timerAtLoad) + "\n";
    if (tickBase != defaultTicks) setup += "tick-count " + std::to_string(tickBase) + "\n";
    for (const std::string& line : writer->setup()) setup += line + "\n";
    // The world as the first frame finds it, and the frames from the start, stand in
    // the setup.
    std::vector<Line> lines;
    for (const Line& l : book.sorted()) {
        const bool world = l.rank == 1 && l.at == writer->first() && l.text.rfind("press ", 0) != 0 &&
                           l.text.rfind("answer ", 0) != 0;
        if (world || (l.rank == 0 && l.at == 0 && l.text.rfind("frames ", 0) == 0))
            setup += l.text + (l.note.empty() ? "" : "   # " + l.note) + "\n";
        else
            lines.push_back(l);
    }
    const std::string body = setup + "\n" + bodyText(lines, writer->end());
    out->frames = writer->frames();
    out->length = writer->end();
    out->lines = (int)lines.size() + 1;
    out->expectations = writer->expectations();

    // Played with the build: the world's answers against the recording's.
    Scenario scenario;
    std::vector<ParseError> errors;
    if (!parseScenario(body, "(written)", &scenario, &errors)) {
        out->error =
            "the written scenario does not read back: " + (errors.empty() ? std::string() : errors[0].text());
        out->text = body;
        return false;
    }
    CheckOutcome check;
    checkScenario(scenario, paths, options, &check);
    if (check.interrupted) return out->interrupted = true, false;
    if (!check.error.empty()) return out->error = check.error, false;
    for (const LeftOut& l : check.differences) leftOut.push_back(l);
    std::stable_sort(leftOut.begin(), leftOut.end(), [](const LeftOut& a, const LeftOut& b) {
        return a.run != b.run ? a.run < b.run : a.frame < b.frame;
    });
    out->failed = check.failed;
    out->firstFailed = check.firstFailed;
    if (check.failed > 0 && leftOut.empty() && out->departure.empty())
        leftOut.push_back({0, 0, check.firstFailedAt,
                           "played with this build, the scenario's expectation fails: " + check.firstFailed});
    std::vector<std::string> listed;
    for (const LeftOut& l : leftOut) {
        const std::string text = leftOutText(l, paths.size() > 1);
        out->leftOut.push_back(text);
        if (listed.size() < MostListed) listed.push_back(text);
    }
    out->text = headerText(given, head, *out, listed, leftOut.size() - listed.size()) + body;
    return true;
}

} // namespace player
