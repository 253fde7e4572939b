// The two sides of a replay's difference as text (divergence_text.h): the recorded
// event made into the call it stands for and told by the host's describe(), its
// speech record's texts and values included; the events that are no call in words.
#include "replay/divergence_text.h"

#include "standin/printable_text.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>

namespace sim::detail {

namespace {

std::string hexText(const std::string& bytes) {
    std::string out;
    char b[4];
    for (unsigned char ch : bytes) {
        snprintf(b, sizeof b, "%02X", ch);
        out += b;
    }
    return out;
}

// A recorded speech record told as the host tells the one passed: its two texts,
// then its values.
std::string speechText(const std::string& before) {
    std::string out = "{";
    if (before.size() < 64) {
        out += hexText(before);
        return out + '}';
    }
    std::string texts[2];
    size_t at = 64;
    for (std::string& t : texts) {
        const size_t end = before.find('\0', at);
        if (end == std::string::npos) break;
        t = before.substr(at, end - at);
        at = end + 1;
    }
    char b[32];
    for (int k = 0; k < 8; ++k) {
        if (k) out += ", ";
        uint64_t slot;
        memcpy(&slot, before.data() + k * 8, sizeof slot);
        if (k < 2)
            out += quotedText(texts[k]);
        else if (k == 3)
            snprintf(b, sizeof b, "0x%08" PRIX32, (uint32_t)slot), out += b;
        else
            snprintf(b, sizeof b, "%" PRId32, (int32_t)(uint32_t)slot), out += b;
    }
    return out + "}";
}

// The recorded event as the call it stands for, so that both sides of a difference
// read as `--trace` reads.
Call recordedCall(const rec::Event& e, int frame) {
    Call c;
    c.frame = frame;
    switch (e.kind) {
    case rec::EventKind::Native:
        c.kind = CallKind::Native;
        c.hash = e.hash;
        c.argc = e.argc;
        for (int k = 0; k < e.argc && k < 12; ++k) {
            c.args[k] = e.args[k];
            // Shown as describe() shows the call's own texts, but escaped: these are the file's.
            if (e.argKind[k] == rec::ArgKind::Text) c.text[k] = sim::printable(e.text[k], true);
            if (e.argKind[k] == rec::ArgKind::Record) c.text[k] = speechText(e.before[k]);
        }
        for (int k = 0; k < 3; ++k) c.result[k] = e.result[k];
        break;
    case rec::EventKind::Wait:
        c.kind = CallKind::Wait;
        c.waitMs = e.waitMs;
        break;
    case rec::EventKind::Global:
        c.kind = CallKind::GlobalPtr;
        c.globalIndex = e.globalIndex;
        c.pointer = e.globalNull ? 0 : 1;
        break;
    default:
        break;
    }
    return c;
}

} // namespace

std::string quotedText(const std::string& s) { return "\"" + sim::printable(s, true) + "\""; }

std::string describeRecorded(const rec::Event& e, int frame) {
    char b[200];
    switch (e.kind) {
    case rec::EventKind::Native: {
        std::string s = describe(recordedCall(e, frame));
        if (e.nullResult) s += " (a null result)";
        return s;
    }
    case rec::EventKind::Wait:
        return describe(recordedCall(e, frame));
    case rec::EventKind::Global: {
        snprintf(b, sizeof b, "frame %d  getGlobalPtr(%" PRId32 ") -> %s", frame, e.globalIndex,
                 e.globalNull ? "null" : "a cell");
        std::string s = b;
        if (!e.globalNull) {
            if (e.globalWritten) {
                snprintf(b, sizeof b, ", 0x%016" PRIX64 " written into it", e.globalValue);
                s += b;
            } else {
                s += ", nothing written into it";
            }
        }
        return s;
    }
    case rec::EventKind::Resume:
        snprintf(b, sizeof b, "frame %d  scriptWait returns: a new frame", frame);
        return b;
    case rec::EventKind::Tick:
        snprintf(b, sizeof b, "frame %d  GetTickCount() -> %" PRIu32, frame, e.tick);
        return b;
    case rec::EventKind::Key:
        snprintf(b, sizeof b, "frame %d  key event (%" PRIu32 ", %u, %u, %d, %d, %d, %d) at tick %" PRIu32,
                 frame, e.key, (unsigned)e.second, (unsigned)e.third, e.fourth, e.fifth, e.sixth, e.seventh,
                 e.tick);
        return b;
    case rec::EventKind::Save:
        snprintf(b, sizeof b, "frame %d  the save file written: ", frame);
        return b + quotedText(e.save);
    case rec::EventKind::KeyRead:
        snprintf(b, sizeof b, "frame %d  key %" PRIu32 " read by the key test (%d, %d, %d) at tick %" PRIu32,
                 frame, e.key, e.fifth, e.sixth, e.seventh, e.tick);
        return b;
    }
    return "?";
}

std::string describeMade(const Call& c) {
    std::string s = describe(c);
    if (c.kind == CallKind::Native) {
        const size_t arrow = s.rfind(" -> ");
        if (arrow != std::string::npos) s.erase(arrow);
    }
    return s;
}

} // namespace sim::detail
