// The session player's scenario reader (sim/player/scenario.h) on arbitrary text:
// no crash and no read out of bounds; an answer that agrees with itself (success
// exactly when no error is listed, every error naming the file and a line of it,
// the events of a good scenario in time order); the same answer twice; and the
// time and money formats reading back what they write. A scenario accepted asks
// for a session that ends: at most a day and MostFrames frames, with no duration
// longer. Nothing of it reaches the terminal as a control byte (errors and lines
// as written), nor a picture as text that is not XML. Run with -timeout and
// -rss_limit_mb, so that a hang or a memory spike fails it too (docs/fuzzing.md).
//
// Inputs that name a settings file are skipped: the reader would open whatever
// path they give.
#include "player/pictures.h"
#include "player/scenario.h"

#include "fuzz_check.h"

#include <algorithm>
#include <cinttypes>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char* const Path = "/nonexistent/fuzz/scenario.txt";

std::string errorsText(const std::vector<player::ParseError>& errors) {
    std::string all;
    for (const player::ParseError& e : errors) all += e.text() + "\n";
    return all;
}

// No byte a terminal would act on.
bool printableText(const std::string& s) {
    return std::none_of(s.begin(), s.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; });
}

// UTF-8 throughout, and only characters XML 1.0 allows.
bool xmlText(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp = 0;
        const size_t n = sim::utf8At(s, i, &cp);
        if (n == 0 || (cp < 0x20 && cp != '\t' && cp != '\n' && cp != '\r') || cp == 0xFFFE || cp == 0xFFFF)
            return false;
        i += n;
    }
    return true;
}

void checkFormats(const uint8_t* data, size_t size) {
    if (size < 8) return;
    int64_t raw;
    std::memcpy(&raw, data, sizeof raw);
    // Whole tenths of a second below 1000 hours: formatTime shows tenths.
    const player::Millis ms = (player::Millis)((uint64_t)raw % 36000000ull) * 100;
    player::Millis back = -1;
    const std::string t = player::formatTime(ms);
    FUZZ_CHECK(player::parseTime(t, &back) && back == ms,
               "%" PRId64 " ms written \"%s\" reads back as %" PRId64, ms, t.c_str(), back);
    const int64_t cents = raw % 100000000000000ll; // below a trillion dollars, either sign
    int64_t centsBack = 0;
    const std::string m = player::formatMoney(cents);
    FUZZ_CHECK(player::parseMoney(m, &centsBack) && centsBack == cents,
               "%" PRId64 " hundredths written \"%s\" read back as %" PRId64, cents, m.c_str(), centsBack);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    checkFormats(data, size);
    const std::string text((const char*)data, size);
    if (text.find("settings-file") != std::string::npos) return 0;

    player::Scenario scenario;
    std::vector<player::ParseError> errors;
    const bool ok = player::parseScenario(text, Path, &scenario, &errors);
    FUZZ_CHECK(ok == errors.empty(), "parseScenario said %s with %zu errors", ok ? "yes" : "no",
               errors.size());

    const int lines = (int)std::count(text.begin(), text.end(), '\n') + 1;
    FUZZ_CHECK(xmlText(player::xmlEscape(text)), "xmlEscape leaves text that is not XML");
    for (const player::ParseError& e : errors) {
        FUZZ_CHECK(printableText(e.message), "an error on line %d holds a control byte", e.line);
        FUZZ_CHECK(e.file == Path, "an error names the file \"%s\"", e.file.c_str());
        FUZZ_CHECK(e.line >= 0 && e.line <= lines, "an error on line %d of %d", e.line, lines);
        FUZZ_CHECK(!e.message.empty(), "an error on line %d says nothing", e.line);
        FUZZ_CHECK(e.text().rfind(Path, 0) == 0, "an error's text does not start with the file: %s",
                   e.text().c_str());
    }
    if (ok) {
        FUZZ_CHECK(scenario.fps >= 1 && scenario.fps <= 1000, "fps %d", scenario.fps);
        FUZZ_CHECK(scenario.end >= 0 && scenario.end <= player::LongestSession, "a session of %" PRId64 " ms",
                   scenario.end);
        const int64_t frames = scenario.end / player::frameLength(scenario.fps) + 1;
        FUZZ_CHECK(frames <= player::MostFrames, "a session of %" PRId64 " frames", frames);
        for (const std::vector<player::Event>* list : {&scenario.setup, &scenario.events})
            for (const player::Event& e : *list) {
                FUZZ_CHECK(e.duration >= 0 && e.duration <= player::LongestSession,
                           "line %d lasts %" PRId64 " ms", e.line, e.duration);
                if (e.kind == player::Event::Kind::Knob)
                    for (const player::Knob& k : player::knobs())
                        FUZZ_CHECK(e.name != k.name || k.type != player::KnobType::Duration ||
                                       (e.value >= 0 && e.value <= (double)player::LongestSession),
                                   "line %d sets %s to %g ms", e.line, k.name, e.value);
                FUZZ_CHECK(printableText(e.written) && printableText(e.expect.written),
                           "line %d as written holds a control byte", e.line);
            }
        for (size_t i = 0; i < scenario.events.size(); ++i) {
            const player::Event& e = scenario.events[i];
            FUZZ_CHECK(e.at >= 0, "an event at %" PRId64 " ms", e.at);
            FUZZ_CHECK(e.line >= 1 && e.line <= lines, "an event from line %d of %d", e.line, lines);
            if (i > 0)
                FUZZ_CHECK(scenario.events[i - 1].at <= e.at,
                           "events out of time order: line %d (%" PRId64 " ms) before line %d (%" PRId64
                           " ms)",
                           scenario.events[i - 1].line, scenario.events[i - 1].at, e.line, e.at);
        }
    }

    // The same text, the same answer.
    player::Scenario again;
    std::vector<player::ParseError> againErrors;
    FUZZ_CHECK(player::parseScenario(text, Path, &again, &againErrors) == ok &&
                   errorsText(againErrors) == errorsText(errors) &&
                   again.events.size() == scenario.events.size(),
               "a second read of the same text gives another answer");
    return 0;
}
