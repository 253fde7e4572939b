// The timeline as text, and the summary at the end of a session.
#pragma once

#include "player/scenario.h"
#include "player/session_result.h"

#include <string>
#include <vector>

namespace player {

// "   1:05.3  drink     drink started by the drink key". A line of the scenario
// reads "   1:05.0  > press drink-key".
std::string formatEntry(const Entry& entry);

// A few lines: what was drunk, passed out, refilled; the levels at the end; the
// expectations; the time it took.
std::vector<std::string> summaryLines(const Scenario& scenario, const SessionResult& result);

// The failures in the form "scenarios/x.txt:12: at 1:30.0: expected flask 95, got 97".
std::vector<std::string> failureLines(const Scenario& scenario, const SessionResult& result);

} // namespace player
