// The session player's scenario reader (sim/player/scenario.h) on arbitrary text:
// no crash and no read out of bounds; an answer that agrees with itself (success
// exactly when no error is listed, every error naming the file and a line of it,
// the events of a good scenario in time order); the same answer twice; and the
// time and money formats reading back what they write.
//
// Inputs that name a settings file are skipped: the reader would open whatever
// path they give.
#include "scenario.h"

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
    for (const player::ParseError& e : errors) {
        FUZZ_CHECK(e.file == Path, "an error names the file \"%s\"", e.file.c_str());
        FUZZ_CHECK(e.line >= 0 && e.line <= lines, "an error on line %d of %d", e.line, lines);
        FUZZ_CHECK(!e.message.empty(), "an error on line %d says nothing", e.line);
        FUZZ_CHECK(e.text().rfind(Path, 0) == 0, "an error's text does not start with the file: %s",
                   e.text().c_str());
    }
    if (ok) {
        FUZZ_CHECK(scenario.fps >= 1 && scenario.fps <= 1000, "fps %d", scenario.fps);
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
