#include "player/expectations.h"

#include "player/narration.h"
#include "player/time_money_text.h"

#include "base/script_state.h"

#include <algorithm>
#include <cmath>

namespace player {

namespace {

using S = Expectation::Subject;

// A subject as read: a number compared with the operator, a switch compared with
// on or off, or (for the save file and speech) already judged.
struct Reading {
    double value = 0;
    bool numeric = true;
    bool flag = false;
    bool passed = false;
    std::string got;
};

Reading reading(int64_t v) {
    Reading r;
    r.value = (double)v;
    r.got = std::to_string(v);
    return r;
}

Reading money(int64_t v) {
    Reading r;
    r.value = (double)v;
    r.got = formatMoney(v);
    return r;
}

Reading onOff(bool v, bool prompt) {
    Reading r;
    r.numeric = false;
    r.flag = v;
    r.got = prompt ? (v ? "shown" : "hidden") : (v ? "on" : "off");
    return r;
}

Reading intensity(const Expectation&, const Looked& l) {
    Reading r;
    const uint64_t global = l.world.intensityGlobal;
    r.value = global == 0 ? 0.0 : (double)sim::floatOf(global);
    r.got = global == 0 ? "0 (cleared)" : fixed(r.value, 7);
    return r;
}

Reading save(const Expectation& x, const Looked& l) {
    Reading r;
    r.numeric = false;
    bool exists = false;
    const std::string content = readSave(l.saveFile, &exists);
    r.got = exists ? quoted(content) : "none (no save file)";
    r.passed = x.present ? exists && content == x.text : !exists;
    return r;
}

Reading spoken(const Expectation& x, const Looked& l) {
    Reading r;
    r.numeric = false;
    int times = 0;
    for (const sim::Speech& s : l.world.speech) times += s.line == x.text ? 1 : 0;
    r.got =
        times == 0 ? "never spoken" : "spoken " + std::to_string(times) + (times == 1 ? " time" : " times");
    r.passed = (times > 0) == (x.subject == S::Spoken);
    return r;
}

Reading flask(const Expectation&, const Looked& l) { return reading(l.plugin->flaskLevel); }
Reading intake(const Expectation&, const Looked& l) { return reading(l.plugin->intakeLevel); }
Reading drunk(const Expectation&, const Looked& l) { return reading(l.plugin->drunkLevel); }
Reading cash(const Expectation&, const Looked& l) { return money(l.world.cash); }
Reading charged(const Expectation&, const Looked& l) { return money(l.counts.charged); }
Reading drinks(const Expectation&, const Looked& l) { return reading(l.counts.drinks); }
Reading sips(const Expectation&, const Looked& l) { return reading(l.counts.sips); }
Reading passOuts(const Expectation&, const Looked& l) { return reading(l.counts.passOuts); }
Reading refills(const Expectation&, const Looked& l) { return reading(l.counts.refills); }
Reading drinkPrompt(const Expectation&, const Looked& l) { return onOff(l.plugin->drinkPromptActive, true); }
Reading refillPrompt(const Expectation&, const Looked& l) {
    return onOff(l.plugin->refillPromptActive, true);
}
Reading drinking(const Expectation&, const Looked& l) { return onOff(l.plugin->drinking, false); }
Reading deadeyeLock(const Expectation&, const Looked& l) { return onOff(l.plugin->deadeyeLock, false); }
Reading passedOut(const Expectation&, const Looked& l) { return onOff(l.plugin->passedOut, false); }
Reading mission(const Expectation&, const Looked& l) { return onOff(l.world.missionFlag, false); }
Reading held(const Expectation&, const Looked& l) { return onOff(l.held, false); }
// INPUT_SPECIAL_ABILITY and INPUT_SPECIAL_ABILITY_SECONDARY both held off in the
// frame: the lock acted.
Reading deadeyeHeld(const Expectation&, const Looked& l) {
    const std::vector<uint32_t>& off = l.world.controlsHeldOff;
    auto has = [&](uint32_t c) { return std::find(off.begin(), off.end(), c) != off.end(); };
    return onOff(has(0xCEE12B50) && has(0x6328239B), false);
}
// What IS_PED_ON_FOOT answers for the player: dead, he is not on foot.
Reading onFoot(const Expectation&, const Looked& l) {
    return onOff(l.world.onFoot != 0 && !l.world.dead, false);
}

struct Reader {
    S subject;
    Reading (*read)(const Expectation& x, const Looked& l);
    bool onOff;      // compared with on or off
    bool fromPlugin; // read from the plug-in's state
};
const Reader Readers[] = {
    {S::Flask, flask, false, true},
    {S::Intake, intake, false, true},
    {S::Drunk, drunk, false, true},
    {S::Cash, cash, false, false},
    {S::Charged, charged, false, false},
    {S::Intensity, intensity, false, false},
    {S::Drinks, drinks, false, true},
    {S::Sips, sips, false, true},
    {S::PassOuts, passOuts, false, true},
    {S::Refills, refills, false, false},
    {S::DrinkPrompt, drinkPrompt, true, true},
    {S::RefillPrompt, refillPrompt, true, true},
    {S::Drinking, drinking, true, true},
    {S::DeadeyeLock, deadeyeLock, true, true},
    {S::DeadeyeHeld, deadeyeHeld, true, false},
    {S::PassedOut, passedOut, true, true},
    {S::Mission, mission, true, false},
    {S::Held, held, true, false},
    {S::OnFoot, onFoot, true, false},
    {S::Save, save, false, false},
    {S::Spoken, spoken, false, false},
    {S::NotSpoken, spoken, false, false},
};

// A number against the value written: = and != within the tolerance its digits
// give (an intensity's), a bound exactly.
bool compare(const Expectation& x, double value) {
    using Op = Expectation::Op;
    switch (x.op) {
    case Op::Eq:
        return std::fabs(value - x.low) <= x.tolerance;
    case Op::Ne:
        return std::fabs(value - x.low) > x.tolerance;
    case Op::Lt:
        return value < x.low;
    case Op::Le:
        return value <= x.low;
    case Op::Gt:
        return value > x.low;
    case Op::Ge:
        return value >= x.low;
    case Op::Range:
        return value >= x.low && value <= x.high;
    }
    return false;
}

} // namespace

bool holds(const Expectation& x, const Looked& looked, std::string* got) {
    for (const Reader& reader : Readers) {
        if (reader.subject != x.subject) continue;
        if (reader.fromPlugin && !looked.plugin) {
            *got = "not known: this build of the plug-in does not export its state";
            return false;
        }
        const Reading r = reader.read(x, looked);
        *got = r.got;
        if (reader.onOff) return r.flag == x.flag;
        return r.numeric ? compare(x, r.value) : r.passed;
    }
    *got = "";
    return false;
}

} // namespace player
