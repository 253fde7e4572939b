#include "player/session_page.h"

#include "standin/printable_text.h"
#include "player/frame.h"
#include "player/page_assets.h"
#include "player/pictures.h"
#include "player/report.h"
#include "player/world_tables.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace player {

std::string jsonString(const std::string& text) {
    std::string out = "\"";
    out.reserve(text.size() + 2);
    for (size_t i = 0; i < text.size();) {
        uint32_t cp = 0;
        const size_t n = sim::utf8At(text, i, &cp);
        if (n == 0) {
            out += "\\ufffd"; // not UTF-8: the replacement character
            ++i;
            continue;
        }
        char b[16];
        switch (cp) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\t':
            out += "\\t";
            break;
        // Nothing in the data may close the script element that holds it ("</script")
        // or open a comment there ("<!--").
        case '<':
        case 0x2028:
        case 0x2029:
            snprintf(b, sizeof b, "\\u%04x", (unsigned)cp);
            out += b;
            break;
        default:
            if (cp < 0x20 || cp == 0x7F) {
                snprintf(b, sizeof b, "\\u%04x", (unsigned)cp);
                out += b;
            } else {
                out.append(text, i, n);
            }
        }
        i += n;
    }
    out += '"';
    return out;
}

namespace {

void appendNumber(std::string& o, double v) {
    char b[40];
    snprintf(b, sizeof b, "%.9g", v);
    o += b;
}

std::string shortFloat(float v) {
    char b[40];
    snprintf(b, sizeof b, "%g", (double)v);
    return b;
}

// What makes a call's text: everything describe() reads but the frame, into `key`
// (kept from call to call: a frame's calls cost no allocation).
void contentKey(const sim::Call& c, bool withoutAnswer, std::string& key) {
    struct Fixed {
        uint64_t hash, args[12], result[3], pointer;
        uint32_t waitMs;
        int32_t globalIndex, argc;
        uint8_t kind;
    } fixed;
    memset(&fixed, 0, sizeof fixed); // the padding too: the key is its bytes
    fixed.hash = c.hash;
    const int argc = std::clamp(c.argc, 0, 12);
    memcpy(fixed.args, c.args, sizeof fixed.args);
    memcpy(fixed.result, c.result, sizeof fixed.result);
    if (withoutAnswer) fixed.result[0] = 0;
    fixed.pointer = c.pointer;
    fixed.waitMs = c.waitMs;
    fixed.globalIndex = c.globalIndex;
    fixed.argc = c.argc;
    fixed.kind = (uint8_t)c.kind;
    key.assign(reinterpret_cast<const char*>(&fixed), sizeof fixed);
    for (int k = 0; k < argc; ++k) {
        if (c.text[k].empty()) continue;
        const uint32_t n = (uint32_t)c.text[k].size();
        key.append(reinterpret_cast<const char*>(&k), sizeof k);
        key.append(reinterpret_cast<const char*>(&n), sizeof n);
        key += c.text[k];
    }
}

// describe()'s text without its "frame N  ".
std::string withoutFrame(const std::string& described) {
    const size_t at = described.find("  ");
    return at == std::string::npos ? described : described.substr(at + 2);
}

bool isTimerCall(const sim::Call& c) {
    return c.kind == sim::CallKind::Native && c.hash == natives::GetGameTimer;
}

// A JSON array of the items, each written by `write`.
template <typename V, typename F> void appendList(std::string& o, const V& items, F write) {
    o += '[';
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) o += ',';
        write(items[i]);
    }
    o += ']';
}

template <typename V> void appendIntArray(std::string& o, const V& values) {
    appendList(o, values, [&o](auto v) { o += std::to_string(v); });
}

// Runs as [first frame, value, frames since the last start, value, ...].
void appendRuns(std::string& o, const std::vector<int>& starts, const std::vector<int>& values) {
    o += '[';
    int last = 0;
    for (size_t i = 0; i < starts.size(); ++i) {
        if (i) o += ',';
        o += std::to_string(starts[i] - last) + "," + std::to_string(values[i]);
        last = starts[i];
    }
    o += ']';
}

} // namespace

int SessionPage::textOf(const std::string& text) {
    auto it = textIndex.find(text);
    if (it != textIndex.end()) return it->second;
    if (textsFull || textBytes + text.size() > lim.callTextBytes) {
        textsFull = true;
        return -1;
    }
    textBytes += text.size();
    texts.push_back(text);
    textIndex.emplace(text, (int)texts.size() - 1);
    return (int)texts.size() - 1;
}

void SessionPage::call(const sim::Call& c) {
    if (framesPast > 0) return;
    PendingCall p;
    p.frame = c.frame;
    p.timer = isTimerCall(c);
    p.answer = c.resultInt();
    contentKey(c, p.timer, key);
    auto it = describedIndex.find(key);
    if (it != describedIndex.end()) {
        p.text = it->second;
    } else {
        std::string text;
        if (p.timer) {
            sim::Call quiet = c;
            quiet.result[0] = 0;
            text = withoutFrame(sim::describe(quiet));
            if (!text.empty() && text.back() == '0') text.pop_back(); // " -> ", the answer follows
        } else {
            text = withoutFrame(sim::describe(c));
        }
        p.text = textOf(sim::printable(text));
        // The cache is bounded with the texts: a call whose contents change every
        // frame is described every frame rather than remembered.
        if (p.text >= 0 && describedIndex.size() < 4 * texts.size() + 1024)
            describedIndex.emplace(key, p.text);
    }
    // A call after the frame, in the same frame of the host's (the unload's): the
    // frame's own; a call before the first frame of a load (its registration): the
    // next frame's.
    if (openHostFrame >= 0 && c.frame == openHostFrame && pending.empty()) {
        openCalls.push_back(callItem(p, openHostFrame, openAt));
        return;
    }
    pending.push_back(p);
}

// A call as the page lists it: its text's number times two, plus one when the
// frame's timer follows; -1 when its text is not kept.
int SessionPage::callItem(const PendingCall& p, int hostFrame, Millis at) {
    if (p.text < 0) return -1;
    int text = p.text;
    bool timer = false;
    if (p.timer) {
        const uint32_t frameTimer = timerBase + (uint32_t)at;
        if (!timerKnown) {
            timerKnown = true;
            timerBase = (uint32_t)p.answer - (uint32_t)at;
            timer = true;
        } else {
            timer = (uint32_t)p.answer == frameTimer;
        }
        if (!timer) text = textOf(texts[(size_t)p.text] + std::to_string(p.answer));
    }
    if (text >= 0 && p.frame != hostFrame)
        text = textOf("frame " + std::to_string(p.frame) + "  " + texts[(size_t)text]);
    if (text < 0) return -1;
    return text * 2 + (timer ? 1 : 0);
}

void SessionPage::closeFrame() {
    if (openHostFrame < 0) return;
    const int n = framesKept();
    int list = -1;
    if (std::find(openCalls.begin(), openCalls.end(), -1) == openCalls.end()) {
        auto it = callListIndex.find(openCalls);
        if (it != callListIndex.end()) {
            list = it->second;
        } else if (listedCalls + openCalls.size() <= lim.listedCalls) {
            listedCalls += openCalls.size();
            list = (int)callLists.size();
            callListIndex.emplace(openCalls, list);
            callLists.push_back(openCalls);
        }
    }
    if (list < 0 && callsLostFrom == 0) callsLostFrom = n;
    callRuns.add(n, list);
    openCalls.clear();
    openHostFrame = -1;
}

void SessionPage::frame(const FrameSnapshot& f) {
    if (full) {
        closeFrame(); // the last frame kept, with its calls
        ++framesPast;
        lastAt = f.at;
        pending.clear();
        return;
    }
    closeFrame();
    if (atDeltas.empty()) {
        firstAt = f.at;
        atDeltas.push_back(0);
    } else {
        atDeltas.push_back(f.at - lastAt);
    }
    lastAt = keptAt = f.at;
    hostFrames.push_back(f.hostFrame);
    const int n = framesKept();
    for (const PendingCall& p : pending) openCalls.push_back(callItem(p, f.hostFrame, f.at));
    pending.clear();
    openHostFrame = f.hostFrame;
    openAt = f.at;
    keepState(n, f);
    keepSprites(n, f);
    if (f.at >= lim.gameMs || n >= lim.frames) full = true;
}

void SessionPage::entry(const Entry& e) {
    if (framesPast > 0 || (full && e.at > lastAt)) {
        ++entriesPast;
        return;
    }
    char topic[16];
    snprintf(topic, sizeof topic, "%s", e.topic == Topic::Action ? ">" : topicName(e.topic));
    // The narration shows what files bring as the terminal may show it; a line
    // from anywhere else goes through the same.
    lines.push_back({e.at, sim::printable(formatEntry(e)), topic, e.failed});
}

// The plug-in's state and the world's, as the frame left them: [flask, intake,
// drunk, intensity, flags, cash or null, saloon, target].
void SessionPage::keepState(int n, const FrameSnapshot& f) {
    const FrameState& s = f.state;
    const uint32_t flags = (s.drinking ? 1 : 0) | (s.scenarioRunning ? 2 : 0) | (s.passedOut ? 4 : 0) |
                           (s.passOutEffect ? 8 : 0) | (s.deadeye ? 16 : 0) | (s.drinkPrompt ? 32 : 0) |
                           (s.refillPrompt ? 64 : 0) | (f.calls.heldQuery ? 128 : 0) |
                           (f.stateKnown ? 256 : 0) | (f.fromRecording ? 512 : 0);
    const StateKey now = {s.flask, s.intake, s.drunk, s.global, flags, f.cash, f.interior, f.target};
    if (!states.empty() && now == lastState) return; // the run goes on
    lastState = now;
    char intensity[40];
    if (s.global == 0)
        snprintf(intensity, sizeof intensity, "0 (cleared)");
    else
        snprintf(intensity, sizeof intensity, "%.4f", (double)sim::floatOf(s.global));
    const Saloon* saloon = saloonAt(f.interior);
    std::string o = "[" + std::to_string(s.flask) + "," + std::to_string(s.intake) + "," +
                    std::to_string(s.drunk) + "," + jsonString(intensity) + "," + std::to_string(flags) +
                    "," + (f.fromRecording ? std::string("null") : std::to_string(f.cash)) + "," +
                    jsonString(saloon       ? saloon->name
                               : f.interior ? std::to_string(f.interior)
                                            : "") +
                    "," + std::to_string(f.target) + "]";
    auto [it, added] = stateIndex.emplace(o, (int)states.size());
    if (added) states.push_back(o);
    stateRuns.add(n, it->second);
}

// The frame's sprites, each at its place in the frame's order, as the HUD picture
// draws them: [dictionary, texture, [x, y, width, height, rotation], the same as
// the picture's table writes them, [red, green, blue, alpha], its SVG].
void SessionPage::keepSprites(int n, const FrameSnapshot& f) {
    auto same = [](const sim::Sprite& a, const sim::Sprite& b) {
        return a.dictionary == b.dictionary && a.texture == b.texture && a.x == b.x && a.y == b.y &&
               a.width == b.width && a.height == b.height && a.rotation == b.rotation && a.red == b.red &&
               a.green == b.green && a.blue == b.blue && a.alpha == b.alpha && a.last == b.last;
    };
    if (!spriteSets.empty() &&
        std::equal(f.sprites.begin(), f.sprites.end(), lastSprites.begin(), lastSprites.end(), same)) {
        return; // the run goes on
    }
    lastSprites = f.sprites;
    std::vector<int> set;
    set.reserve(f.sprites.size());
    for (size_t i = 0; i < f.sprites.size(); ++i) {
        const sim::Sprite& s = f.sprites[i];
        std::string key = s.dictionary + '\0' + s.texture + '\0';
        const float numbers[] = {s.x, s.y, s.width, s.height, s.rotation};
        const int32_t ints[] = {s.red, s.green, s.blue, s.alpha, s.last, (int32_t)i};
        key.append(reinterpret_cast<const char*>(numbers), sizeof numbers);
        key.append(reinterpret_cast<const char*>(ints), sizeof ints);
        auto [it, added] = spriteIndex.emplace(key, (int)sprites.size());
        if (added) {
            std::string o = "[" + jsonString(sim::printable(s.dictionary)) + "," +
                            jsonString(sim::printable(s.texture)) + ",[";
            for (int k = 0; k < 5; ++k) {
                if (k) o += ',';
                appendNumber(o, (double)numbers[k]);
            }
            o += "],[";
            for (int k = 0; k < 5; ++k) o += (k ? "," : "") + jsonString(shortFloat(numbers[k]));
            o += "],";
            appendIntArray(o, std::vector<int32_t>{s.red, s.green, s.blue, s.alpha});
            o += "," + jsonString(spriteSvg(s, (int)i + 1)) + "]";
            sprites.push_back(o);
        }
        set.push_back(it->second);
    }
    auto [it, added] = spriteSetIndex.emplace(set, (int)spriteSets.size());
    if (added) spriteSets.push_back(set);
    spriteRuns.add(n, it->second);
}

std::string SessionPage::dataJson(const Recording& shown, const PageEnding& ending) {
    const int frames = framesKept();
    std::string o = "{\"version\":1";
    o += ",\"title\":" + jsonString(sim::printable(shown.title));
    o += ",\"subtitle\":" + jsonString(sim::printable(shown.subtitle));
    o += ",\"frames\":" + std::to_string(frames);
    o += ",\"firstAt\":" + std::to_string(firstAt);
    // Each frame's time less the one before it (the first's: firstAt), as runs of
    // equal steps: [frames, step, ...].
    o += ",\"atRuns\":[";
    for (size_t i = 0; i < atDeltas.size();) {
        size_t j = i;
        while (j < atDeltas.size() && atDeltas[j] == atDeltas[i]) ++j;
        o += std::string(i ? "," : "") + std::to_string(j - i) + "," + std::to_string(atDeltas[i]);
        i = j;
    }
    o += "]";
    // The frames of the host's count, as runs that step by one: [first frame, its number, ...].
    o += ",\"hostRuns\":[";
    for (size_t i = 0; i < hostFrames.size(); ++i)
        if (i == 0 || hostFrames[i] != hostFrames[i - 1] + 1)
            o += std::string(o.back() == '[' ? "" : ",") + std::to_string(i + 1) + "," +
                 std::to_string(hostFrames[i]);
    o += "]";
    o += ",\"timerBase\":" + (timerKnown ? std::to_string(timerBase) : std::string("null"));
    const auto verbatim = [&o](const std::string& json) { o += json; };
    const auto ints = [&o](const auto& values) { appendIntArray(o, values); };
    o += ",\"states\":";
    appendList(o, states, verbatim);
    o += ",\"stateRuns\":";
    appendRuns(o, stateRuns.starts, stateRuns.values);
    o += ",\"sprites\":";
    appendList(o, sprites, verbatim);
    o += ",\"spriteSets\":";
    appendList(o, spriteSets, ints);
    o += ",\"spriteRuns\":";
    appendRuns(o, spriteRuns.starts, spriteRuns.values);
    o += ",\"texts\":";
    appendList(o, texts, [&o](const std::string& t) { o += jsonString(t); });
    o += ",\"callLists\":";
    appendList(o, callLists, ints);
    o += ",\"callRuns\":";
    appendRuns(o, callRuns.starts, callRuns.values);
    o += ",\"callsLostFrom\":" + std::to_string(callsLostFrom);

    // The timeline, each line with the frame it links to: the first at or after
    // its time (an expectation looks at the state after that frame).
    std::vector<Millis> at(atDeltas.size());
    for (size_t i = 0; i < at.size(); ++i) at[i] = (i ? at[i - 1] : firstAt) + atDeltas[i];
    o += ",\"timeline\":[";
    for (size_t i = 0; i < lines.size(); ++i) {
        const Line& l = lines[i];
        const size_t k = (size_t)(std::lower_bound(at.begin(), at.end(), l.at) - at.begin());
        const int frame = at.empty() ? 0 : (int)std::min(k, at.size() - 1) + 1;
        o += std::string(i ? "," : "") + "[" + std::to_string(frame) + "," + jsonString(l.text) + "," +
             jsonString(l.topic) + "," + (l.failed ? "1" : "0") + "]";
    }
    o += "]";

    // Where the page opens: at the difference, else at the HUD picture's moment.
    int open = 1;
    if (shown.hud.taken && shown.hud.frame >= 1 && shown.hud.frame <= frames) open = shown.hud.frame;
    if (ending.departs) {
        open = frames;
        for (int i = frames; i >= 1; --i)
            if (hostFrames[(size_t)i - 1] == ending.departureHostFrame) {
                open = i;
                break;
            }
    }
    o += ",\"open\":" + std::to_string(std::max(open, frames ? 1 : 0));
    const ChartArea area = chartArea(shown);
    o += ",\"chart\":{\"width\":";
    appendNumber(o, area.width);
    o += ",\"height\":";
    appendNumber(o, area.height);
    o += ",\"x0\":";
    appendNumber(o, area.x0);
    o += ",\"x1\":";
    appendNumber(o, area.x1);
    o += ",\"y0\":";
    appendNumber(o, area.y0);
    o += ",\"y1\":";
    appendNumber(o, area.y1);
    o += ",\"end\":" + std::to_string(area.end) + "}";
    o += ",\"summary\":[";
    for (size_t i = 0; i < ending.summary.size(); ++i)
        o += (i ? "," : "") + jsonString(sim::printable(ending.summary[i]));
    o += "]";
    std::string limit;
    if (framesPast > 0 || entriesPast > 0) {
        limit = "This page shows the session's first " + formatDuration(keptAt) + " (frames 1 to " +
                std::to_string(frames) + "): a page holds at most " + formatDuration(lim.gameMs) +
                " of game time and " + std::to_string(lim.frames) + " frames. The session went on for " +
                std::to_string(framesPast) + " frames more, to " + formatTime(lastAt) +
                "; the command's own timeline has all of it.";
    }
    o += ",\"limit\":" + jsonString(limit);
    std::string lost;
    if (callsLostFrom > 0)
        lost = "The calls of frame " + std::to_string(callsLostFrom) +
               " and of some frames after it are not kept: they differ from frame to frame past what "
               "a page holds (" +
               std::to_string(lim.callTextBytes >> 20) + " MB of distinct call texts, " +
               std::to_string(lim.listedCalls) + " calls in distinct lists).";
    o += ",\"callsLost\":" + jsonString(lost);
    o += ",\"difference\":";
    if (ending.departs) {
        o += "{\"recorded\":" + jsonString(sim::printable(ending.recorded)) +
             ",\"made\":" + jsonString(sim::printable(ending.made)) + ",\"told\":[";
        for (size_t i = 0; i < ending.told.size(); ++i)
            o += (i ? "," : "") + jsonString(sim::printable(ending.told[i]));
        o += "]}";
    } else {
        o += "null";
    }
    o += "}";
    return o;
}

std::string SessionPage::html(const SessionResult& result, const PageEnding& ending) {
    closeFrame();
    // A session cut at the limit: the chart of the part the page holds.
    Recording shown = result.recording;
    if (framesPast > 0) {
        const Millis end = keptAt;
        shown.end = end;
        std::erase_if(shown.samples, [&](const Sample& s) { return s.at > end; });
        for (auto* spans : {&shown.drinks, &shown.missions, &shown.passOuts, &shown.refills}) {
            std::erase_if(*spans, [&](const Span& s) { return s.from > end; });
            for (Span& s : *spans) s.to = std::min(s.to, end);
        }
        for (auto* marks : {&shown.expectations, &shown.restarts})
            std::erase_if(*marks, [&](const Mark& m) { return m.at > end; });
    }
    // The page's frame, its places filled: @@NAME@@ marks each.
    const std::string frame = page::sessionHtml;
    std::string out;
    out.reserve(frame.size() + 200000);
    size_t at = 0;
    while (at < frame.size()) {
        const size_t mark = frame.find("@@", at);
        const size_t close = mark == std::string::npos ? mark : frame.find("@@", mark + 2);
        if (close == std::string::npos) {
            out.append(frame, at, std::string::npos);
            break;
        }
        out.append(frame, at, mark - at);
        const std::string name = frame.substr(mark + 2, close - mark - 2);
        if (name == "TITLE")
            out += xmlEscape("Tolvenmire session: " + sim::printable(shown.title));
        else if (name == "STYLE")
            out += page::sessionCss;
        else if (name == "SCRIPT")
            out += page::sessionJs;
        else if (name == "CHART")
            out += chartSvg(shown);
        else if (name == "DATA")
            out += dataJson(shown, ending);
        else
            out.append(frame, mark, close + 2 - mark); // not a place: as written
        at = close + 2;
    }
    return out;
}

} // namespace player
