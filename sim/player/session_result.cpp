// What session_result.h declares beside its records: the topics' names, which the
// timeline prints, and the count of failures, which the exit status is made of.
#include "player/session_result.h"

namespace player {

const char* topicName(Topic topic) {
    switch (topic) {
    case Topic::Start:
        return "start";
    case Topic::Action:
        return "scenario";
    case Topic::Player:
        return "player";
    case Topic::Prompt:
        return "prompt";
    case Topic::Drink:
        return "drink";
    case Topic::Levels:
        return "levels";
    case Topic::Deadeye:
        return "deadeye";
    case Topic::PassOut:
        return "pass-out";
    case Topic::Refill:
        return "refill";
    case Topic::Mission:
        return "mission";
    case Topic::Restart:
        return "restart";
    case Topic::Expect:
        return "expect";
    case Topic::Warning:
        return "warning";
    }
    return "?";
}

int SessionResult::failures() const {
    int n = (int)violations.size();
    for (const ExpectResult& e : expectations) n += e.passed ? 0 : 1;
    return n;
}

} // namespace player
