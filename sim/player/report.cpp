#include "player/report.h"

#include "standin/printable_text.h"

#include "player/narration.h"
#include "player/time_money_text.h"

#include <cstdio>

namespace player {

std::string formatEntry(const Entry& e) {
    char head[48];
    snprintf(head, sizeof head, "%10s  ", formatTime(e.at).c_str());
    if (e.topic == Topic::Action) return std::string(head) + "> " + e.text;
    char topic[16];
    snprintf(topic, sizeof topic, "%-9s ", topicName(e.topic));
    return std::string(head) + topic + e.text;
}

std::vector<std::string> summaryLines(const Scenario& sc, const SessionResult& r) {
    std::vector<std::string> out;
    const Counts& c = r.counts;
    char b[400];
    auto plural = [](int n, const char* one, const char* many) {
        return std::to_string(n) + " " + (n == 1 ? one : many);
    };
    snprintf(b, sizeof b, "Played %s of game time (%d frames) in %.2f s.",
             formatDuration(r.recording.end).c_str(), r.frames, r.wallSeconds);
    out.push_back(b);
    std::string drinks = plural(c.drinks, "drink", "drinks");
    if (c.drinks)
        drinks += " (" + std::to_string(c.drinksByKey) + " by key, " + std::to_string(c.drinksByPrompt) +
                  " by prompt)";
    if (!r.stateKnown) drinks = "drinks, sips and pass-outs not known";
    // The game's missions, and the script's holds when they tell another story: a
    // mission over before the script asked holds nothing; two missions back to back
    // are one hold.
    std::string missions = plural(c.missions, "mission", "missions");
    if (c.missionsUnseen || c.holds != c.missions)
        missions +=
            " (" + plural(c.holds, "hold of the script", "holds of the script") +
            (c.missionsUnseen ? "; " + std::to_string(c.missionsUnseen) + " ended before the script asked"
                              : std::string()) +
            ")";
    out.push_back("  " + drinks +
                  (r.stateKnown ? ", " + plural(c.sips, "sip", "sips") + "; " +
                                      plural(c.passOuts, "pass-out", "pass-outs")
                                : std::string()) +
                  "; " + missions + "; " + plural(c.refills, "refill", "refills") +
                  (c.charged ? " (" + formatMoney(c.charged) + " charged)" : std::string()) +
                  (c.restarts ? "; " + plural(c.restarts, "restart", "restarts") : std::string()));
    char levels[80] = "flask, intake and drunk not known";
    if (r.stateKnown)
        snprintf(levels, sizeof levels, "flask %d, intake %d, drunk %d", r.flask, r.intake, r.drunk);
    snprintf(b, sizeof b, "  at the end: %s, intensity %s, cash %s, save file %s", levels,
             r.intensity == 0 ? "0 (cleared)" : std::to_string(r.intensity).substr(0, 6).c_str(),
             r.cashKnown ? formatMoney(r.cash).c_str() : "not in the recording",
             r.saveExists ? quoted(r.save).c_str() : "none");
    out.push_back(b);
    int passed = 0, failed = 0;
    for (const ExpectResult& e : r.expectations) (e.passed ? passed : failed) += 1;
    if (!r.expectations.empty() || sc.expectations)
        out.push_back("  expectations: " + std::to_string(passed) + " passed, " + std::to_string(failed) +
                      " failed");
    if (!r.violations.empty())
        out.push_back("  host: " + plural((int)r.violations.size(), "protocol fault", "protocol faults"));
    return out;
}

std::vector<std::string> failureLines(const Scenario& sc, const SessionResult& r) {
    std::vector<std::string> out;
    for (const ExpectResult& e : r.expectations) {
        if (e.passed) continue;
        out.push_back(sim::printable(sc.path) + ":" + std::to_string(e.line) + ": at " + formatTime(e.at) +
                      ": expected " + e.written + ", got " + e.got);
    }
    for (const std::string& v : r.violations)
        out.push_back(sim::printable(sc.path) + ": host protocol fault: " + v);
    return out;
}

} // namespace player
