// The expect lines of a scenario: the subject, the comparison and the value written,
// into an Expectation that expectations.cpp judges as the session plays.
#include "player/scenario_parser.h"

#include "standin/printable_text.h"
#include "player/world_tables.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace player {

namespace {

struct SubjectWord {
    const char* name;
    Expectation::Subject subject;
    Form form;
};
const SubjectWord SubjectWords[] = {
    {"flask", Expectation::Subject::Flask, Form::Number},
    {"intake", Expectation::Subject::Intake, Form::Number},
    {"drunk", Expectation::Subject::Drunk, Form::Number},
    {"cash", Expectation::Subject::Cash, Form::Money},
    {"charged", Expectation::Subject::Charged, Form::Money},
    {"intensity", Expectation::Subject::Intensity, Form::Real},
    {"drinks", Expectation::Subject::Drinks, Form::Number},
    {"sips", Expectation::Subject::Sips, Form::Number},
    {"pass-outs", Expectation::Subject::PassOuts, Form::Number},
    {"refills", Expectation::Subject::Refills, Form::Number},
    {"drink-prompt", Expectation::Subject::DrinkPrompt, Form::Switch},
    {"refill-prompt", Expectation::Subject::RefillPrompt, Form::Switch},
    {"drinking", Expectation::Subject::Drinking, Form::Switch},
    {"deadeye-lock", Expectation::Subject::DeadeyeLock, Form::Switch},
    {"deadeye-held-off", Expectation::Subject::DeadeyeHeld, Form::Switch},
    {"passed-out", Expectation::Subject::PassedOut, Form::Switch},
    {"mission", Expectation::Subject::Mission, Form::Switch},
    {"held", Expectation::Subject::Held, Form::Switch},
    {"on-foot", Expectation::Subject::OnFoot, Form::Switch},
    {"out-of-play", Expectation::Subject::Mission, Form::Switch}, // the older spelling of "mission"
    {"save", Expectation::Subject::Save, Form::Save},
    {"spoken", Expectation::Subject::Spoken, Form::Line},
    {"not-spoken", Expectation::Subject::NotSpoken, Form::Line},
};

// A number of the form, into *v; an intensity's tolerance is half a unit of the
// last digit written.
bool parseExpected(Form form, const std::string& s, double* v, double* tolerance) {
    if (form == Form::Money) {
        int64_t cents = 0;
        if (!parseMoney(s, &cents)) return false;
        *v = (double)cents;
        return true;
    }
    if (form == Form::Number) {
        int64_t i = 0;
        if (!parseInteger(s, &i)) return false;
        *v = (double)i;
        return true;
    }
    if (s == "cleared") {
        *v = 0;
        return true;
    }
    if (!parseReal(s, v)) return false;
    const size_t dot = s.find('.');
    if (dot != std::string::npos && tolerance)
        *tolerance = 0.5 * std::pow(10.0, -(double)(s.size() - dot - 1));
    return true;
}

// The comparison in front of the value, taken off it; Eq when there is none.
Expectation::Op takeComparison(std::string* value) {
    using Op = Expectation::Op;
    static const std::pair<const char*, Op> prefixes[] = {{"==", Op::Eq}, {"!=", Op::Ne}, {"<=", Op::Le},
                                                          {">=", Op::Ge}, {"=", Op::Eq},  {"<", Op::Lt},
                                                          {">", Op::Gt}};
    for (const auto& [p, op] : prefixes) {
        if (value->rfind(p, 0) == 0) {
            *value = value->substr(strlen(p));
            return op;
        }
    }
    return Op::Eq;
}

} // namespace

bool Parser::expect(const Words& w, Event* e) {
    if (!needsTime(w, *e)) return false;
    e->kind = Event::Kind::Expect;
    e->expect.written.clear();
    for (size_t i = w.at + 1; i < w.t.size(); ++i)
        e->expect.written +=
            (i > w.at + 1 ? " " : "") +
            (w.t[i].quoted ? "\"" + sim::printable(w.t[i].text, true) + "\"" : sim::printable(w.t[i].text));
    return expectation(w.t, w.at + 1, &e->expect);
}

bool Parser::expectation(const std::vector<Token>& t, size_t at, Expectation* x) {
    std::vector<std::string> names;
    for (const SubjectWord& s : SubjectWords) names.push_back(s.name);
    if (at >= t.size()) return error("missing what to expect (one of: " + joined(names) + ")"), false;
    const std::string& what = t[at].text;
    const SubjectWord* entry = nullptr;
    for (const SubjectWord& s : SubjectWords)
        if (what == s.name) entry = &s;
    if (!entry) {
        const std::string hint = suggestion(what, names);
        return error("cannot expect " + quote(what) +
                     (hint.empty() ? " (one of: " + joined(names) + ")" : hint)),
               false;
    }
    x->subject = entry->subject;
    // The value, with an operator in front of it or attached to it.
    std::vector<std::string> rest;
    for (size_t i = at + 1; i < t.size(); ++i) rest.push_back(t[i].text);
    const bool lastQuoted = t.size() > at + 1 && t.back().quoted;
    switch (entry->form) {
    case Form::Switch:
        return expectSwitch(what, rest, x);
    case Form::Save:
        return expectSave(rest, lastQuoted, x);
    case Form::Line:
        return expectLine(what, rest, x);
    default:
        return expectValue(entry->form, what, rest, x);
    }
}

bool Parser::expectSwitch(const std::string& what, const std::vector<std::string>& rest, Expectation* x) {
    using S = Expectation::Subject;
    if (rest.size() != 1 || !parseSwitch(rest[0], &x->flag))
        return error("write \"expect " + what + " " +
                     (x->subject == S::DrinkPrompt || x->subject == S::RefillPrompt ? "shown\" or \"hidden\""
                                                                                    : "on\" or \"off\"")),
               false;
    return true;
}

bool Parser::expectSave(const std::vector<std::string>& rest, bool lastQuoted, Expectation* x) {
    if (rest.size() != 1) return error("write \"expect save \\\"99\\\"\" or \"expect save none\""), false;
    x->present = !(rest[0] == "none" && !lastQuoted);
    x->text = rest[0];
    return true;
}

// A line a session can hear: any other would never be spoken, and an expectation of
// it could not fail (not-spoken) or could not pass (spoken).
bool Parser::expectLine(const std::string& what, const std::vector<std::string>& rest, Expectation* x) {
    if (rest.size() != 1)
        return error("write \"expect " + what + " LINE\", as in \"expect " + what + " CHAT_PREPARE_DRINK\""),
               false;
    x->text = rest[0];
    std::vector<std::string> lines;
    for (std::string_view l : speechLines()) {
        if (x->text == l) return true;
        lines.emplace_back(l);
    }
    std::string upper = x->text;
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return (char)toupper(c); });
    std::string hint = suggestion(x->text, lines);
    if (hint.empty()) hint = suggestion(upper, lines);
    return error("no speech line " + quote(x->text) +
                 (hint.empty() ? " is heard in a session (the lines: " + joined(lines) + ")" : hint)),
           false;
}

// A number, money or intensity, with an optional comparison (apart or attached) or
// as a range low..high.
bool Parser::expectValue(Form form, const std::string& what, const std::vector<std::string>& rest,
                         Expectation* x) {
    std::string value;
    if (rest.size() == 2) {
        static const char* const ops[] = {"=", "==", "!=", "<", "<=", ">", ">="};
        if (std::find(std::begin(ops), std::end(ops), rest[0]) == std::end(ops))
            return error("bad comparison " + quote(rest[0]) + " (=, !=, <, <=, >, >=)"), false;
        value = rest[0] + rest[1];
    } else if (rest.size() == 1) {
        value = rest[0];
    } else {
        return error("write \"expect " + what + " VALUE\", with an optional comparison (expect " + what +
                     " >= 10) or a range (expect " + what + " 10..20)"),
               false;
    }
    using Op = Expectation::Op;
    x->op = takeComparison(&value);
    // A written intensity matches to its last digit, for = and != only: a bound (a
    // comparison, or a range's ends) is exact.
    const char* kind = form == Form::Money  ? " (dollars, as in $12.50)"
                       : form == Form::Real ? " (a number, as in 0.4974)"
                                            : " (a whole number)";
    const size_t dots = value.find("..");
    if (dots == std::string::npos) {
        if (!parseExpected(form, value, &x->low, &x->tolerance))
            return error("bad number " + quote(value) + " for " + what + kind), false;
        if (x->op != Op::Eq && x->op != Op::Ne) x->tolerance = 0;
        x->high = x->low;
        return true;
    }
    if (x->op != Op::Eq)
        return error("a range takes no comparison: write \"expect " + what + " 10..20\""), false;
    x->op = Op::Range;
    const std::string lo = value.substr(0, dots), hi = value.substr(dots + 2);
    if (!parseExpected(form, lo, &x->low, nullptr))
        return error("bad number " + quote(lo) + " for " + what + kind), false;
    if (!parseExpected(form, hi, &x->high, nullptr))
        return error("bad number " + quote(hi) + " for " + what + kind), false;
    if (x->high < x->low) return error("the range " + value + " is empty (low..high)"), false;
    x->tolerance = 0;
    return true;
}

} // namespace player
