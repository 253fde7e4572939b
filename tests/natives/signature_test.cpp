// Every call the plug-in makes agrees with the game's published signature of the
// native (standin/native_table.h): as many arguments as the native takes (a variadic
// one at least its fixed ones), a float where it takes a float, a pointer where it
// takes a pointer, an integer where it takes an integer; and the plug-in reads the
// result as what the native gives. The calls are those of every shipped scenario,
// played by tolvenmire-sim with the plug-in recording each call as it makes it (the
// calls its --trace shows), and those of every kept recording: the plug-in's own
// account of how it passed each argument (a value, a string, a record) and how many
// bytes of the answer it read. What a value stands for (a float's bits, an integer,
// a whole 64-bit value) the table's kinds tell, as they tell the host.
#include "replay/recording_reader.h"
#include "sim_command.h"
#include "standin/game_hashes.h"
#include "standin/native_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// What travels in a slot: nothing, an integer (int, BOOL, Hash, a handle), a float,
// a pointer, a whole 64-bit value (a pointer the game handed out, passed on as a
// value, or an integer widened), or a position.
enum class Kind { None, Integer, Float, Pointer, Whole, Vector };

const char* kindText(Kind k) {
    switch (k) {
    case Kind::None:
        return "nothing";
    case Kind::Integer:
        return "an integer";
    case Kind::Float:
        return "a float";
    case Kind::Pointer:
        return "a pointer";
    case Kind::Whole:
        return "a whole 64-bit value";
    case Kind::Vector:
        return "a position";
    }
    return "?";
}

// A published type's kind; false for a type this check does not know.
bool typeKind(const std::string& type, Kind* kind) {
    static const char* const integers[] = {"int",    "BOOL",   "Hash",     "Ped", "Entity",
                                           "Player", "Prompt", "Interior", "Any"};
    if (!type.empty() && type.back() == '*') return *kind = Kind::Pointer, true;
    if (type == "float") return *kind = Kind::Float, true;
    if (type == "void") return *kind = Kind::None, true;
    if (type == "Vector3") return *kind = Kind::Vector, true;
    for (const char* i : integers)
        if (type == i) return *kind = Kind::Integer, true;
    return false;
}

struct Parameter {
    std::string text; // "Hash action"
    Kind kind = Kind::Integer;
};

struct Signature {
    std::vector<Parameter> fixed;
    bool variadic = false;
    Kind result = Kind::None;
    std::string error; // a type the check does not know
};

Signature signatureOf(const natives::Native& n) {
    Signature s;
    if (!typeKind(n.returns, &s.result)) s.error = std::string("an unknown result type ") + n.returns;
    const std::string all = n.parameters;
    for (size_t from = 0; from < all.size();) {
        size_t to = all.find(", ", from);
        if (to == std::string::npos) to = all.size();
        const std::string p = all.substr(from, to - from);
        from = to + 2;
        if (p == "...") {
            s.variadic = true;
            continue;
        }
        const size_t space = p.rfind(' ');
        Parameter parameter{p};
        if (space == std::string::npos || !typeKind(p.substr(0, space), &parameter.kind))
            s.error = "an unknown parameter type in \"" + p + "\"";
        s.fixed.push_back(parameter);
    }
    return s;
}

// A call as the plug-in made it: each argument's kind and slot, and how it read the
// answer.
struct Shape {
    int argc = 0;
    Kind args[12] = {};
    uint64_t values[12] = {};
    Kind result = Kind::None;
};

// A value's kind by the table's letter for its place: 'f' a float's bits, 'x' a whole
// 64-bit value, any other an integer.
Kind valueKind(const natives::Native& n, int k) {
    const size_t known = std::char_traits<char>::length(n.args);
    const char letter = (size_t)k < known ? n.args[k] : 'i';
    return letter == 'f' ? Kind::Float : letter == 'x' ? Kind::Whole : Kind::Integer;
}

Shape shapeOf(const natives::Native& n, const rec::Event& e) {
    Shape s;
    s.argc = e.argc;
    for (int k = 0; k < e.argc && k < 12; ++k) {
        s.args[k] = e.argKind[k] == rec::ArgKind::Value ? valueKind(n, k) : Kind::Pointer;
        s.values[k] = e.args[k];
    }
    switch (e.resultBytes) {
    case 4:
        s.result = n.result == 'f' ? Kind::Float : Kind::Integer;
        break;
    case 8:
        s.result = Kind::Whole;
        break;
    case 24:
        s.result = Kind::Vector;
        break;
    default:
        s.result = Kind::None;
        break;
    }
    return s;
}

// Whether a value of kind `passed` may stand in a place the game gives kind `taken`.
std::string argumentDisagreement(Kind taken, Kind passed, uint64_t value) {
    const bool fits32 = value <= UINT32_MAX || (int64_t)value == (int64_t)(int32_t)(uint32_t)value;
    char b[120];
    if (taken == Kind::Float && passed == Kind::Float) {
        // An integer's bits read as a float are a tiny denormal: 100 passed for 100.0f.
        const uint32_t bits = (uint32_t)value;
        if (value > UINT32_MAX) return "is a float with its upper half set";
        if ((bits & 0x7F800000u) == 0 && (bits & 0x7FFFFFu) != 0) {
            std::snprintf(b, sizeof b, "holds 0x%08X, an integer's bits", bits);
            return b;
        }
        return "";
    }
    if (taken == Kind::Pointer && (passed == Kind::Pointer || passed == Kind::Whole)) return "";
    if (taken == Kind::Integer && passed == Kind::Integer && fits32) return "";
    if (taken == Kind::Integer && passed == Kind::Whole && fits32) return "";
    if (taken == passed) {
        std::snprintf(b, sizeof b, "is %s of 64 bits, 0x%016llX", kindText(passed),
                      (unsigned long long)value);
        return b;
    }
    return std::string("is ") + kindText(passed);
}

// What a call disagrees in with the native's published signature; "" when it agrees.
std::string disagreement(const natives::Native& n, const Shape& call) {
    const Signature s = signatureOf(n);
    std::string told = natives::fullName(n) + "(" + n.parameters + ") -> " + n.returns + ": ";
    if (!s.error.empty()) return told + s.error;
    const int fixed = (int)s.fixed.size();
    if (call.argc < fixed || (call.argc > fixed && !s.variadic))
        return told + std::to_string(call.argc) + " arguments; the game takes " +
               (s.variadic ? "at least " : "") + std::to_string(fixed);
    for (int k = 0; k < call.argc; ++k) {
        // The rest of a variadic native's arguments: integers or pointers.
        const bool number = call.args[k] == Kind::Integer || call.args[k] == Kind::Float;
        const Parameter rest{"...", number ? Kind::Integer : Kind::Pointer};
        const Parameter& p = k < fixed ? s.fixed[(size_t)k] : rest;
        const std::string wrong = argumentDisagreement(p.kind, call.args[k], call.values[k]);
        if (!wrong.empty())
            return told + "argument " + std::to_string(k + 1) + " " + wrong + "; the game takes " + p.text;
    }
    // The plug-in may leave an answer unread (a BOOL that tells it nothing it needs);
    // what it reads must be what the native gives.
    const bool resultAgrees = call.result == Kind::None || call.result == s.result ||
                              (call.result == Kind::Whole && s.result == Kind::Pointer);
    if (!resultAgrees)
        return told + "the plug-in reads " + kindText(call.result) + "; the game gives " + n.returns;
    return "";
}

const natives::Native* nativeOf(uint64_t hash) {
    for (const natives::Native& n : natives::Table)
        if (n.hash == hash) return &n;
    return nullptr;
}

struct Source {
    std::string file;  // the recording
    std::string label; // what it is, for a fault's place
};

// Every kept recording, and the recordings of every shipped scenario, made into
// `folder` (the runs after a restart in FILE.2, FILE.3 ...).
std::vector<Source> recordingsToCheck(const fs::path& folder) {
    std::vector<Source> files;
    for (const auto& entry : fs::directory_iterator(RECORDINGS_DIR))
        if (entry.path().extension() == ".rec")
            files.push_back({entry.path().string(), entry.path().string()});
    for (const auto& entry : fs::directory_iterator(SCENARIOS_DIR)) {
        if (entry.path().extension() != ".txt") continue;
        const fs::path to = folder / (entry.path().stem().string() + ".rec");
        const Outcome r =
            runSim(entry.path().string() + " --record " + to.string() + " --no-pictures --quiet");
        EXPECT_LE(r.status, 1) << entry.path() << ": " << r.err;
        for (int run = 1;; ++run) {
            const std::string file = run == 1 ? to.string() : to.string() + "." + std::to_string(run);
            if (!fs::exists(file)) break;
            files.push_back({file, entry.path().string() + " (its run " + std::to_string(run) + ")"});
        }
    }
    return files;
}

} // namespace

TEST(Natives, EveryCallAgreesWithItsSignature) {
    const fs::path folder = fs::temp_directory_path() / ("tolvenmire-signatures-" + std::to_string(getpid()));
    fs::create_directories(folder);
    std::map<std::string, std::string> faults; // what disagrees -> the first call that showed it
    std::set<uint64_t> met;
    size_t calls = 0;
    for (const auto& [file, name] : recordingsToCheck(folder)) {
        const std::string& label = name; // a lambda may not capture a structured binding in C++20
        rec::Recording r;
        std::string error;
        int frame = 0;
        size_t i = 0;
        const bool read = rec::readRecordingEvents(
            file, &r,
            [&](const rec::Event& e) {
                const size_t at = i++;
                if (e.kind != rec::EventKind::Native) {
                    if (e.kind == rec::EventKind::Resume) ++frame; // a resume ends its frame
                    return true;
                }
                ++calls;
                const natives::Native* n = nativeOf(e.hash);
                std::string wrong;
                if (n) {
                    met.insert(n->hash);
                    wrong = disagreement(*n, shapeOf(*n, e));
                } else {
                    char hash[24];
                    std::snprintf(hash, sizeof hash, "0x%016llX", (unsigned long long)e.hash);
                    wrong = std::string("a native not in the table, ") + hash;
                }
                if (!wrong.empty())
                    faults.emplace(wrong, label + ", event " + std::to_string(at) + " (frame " +
                                              std::to_string(frame) + ")");
                return true;
            },
            &error);
        EXPECT_TRUE(read) << error;
    }
    fs::remove_all(folder);
    for (const auto& [wrong, where] : faults) ADD_FAILURE() << wrong << "\n  first at " << where;
    EXPECT_GT(calls, 100000u);
    // Each native of the table was held to its signature at least once.
    for (const natives::Native& n : natives::Table)
        EXPECT_TRUE(met.count(n.hash))
            << natives::fullName(n) << " is called by no scenario and no recording";
}

TEST(Natives, TheSignatureCheckNamesWhatDisagrees) {
    // PAD::GET_CONTROL_NORMAL(0, INPUT_MOVE_UD), its float answer read.
    rec::Event normal;
    normal.hash = natives::GetControlNormal;
    normal.argc = 2;
    normal.args[1] = hashes::InputMoveUd;
    normal.resultBytes = 4;
    const natives::Native published = *nativeOf(natives::GetControlNormal);
    auto check = [](const natives::Native& n, const rec::Event& e) { return disagreement(n, shapeOf(n, e)); };
    ASSERT_EQ(check(published, normal), "");

    natives::Native readsAnInt = published;
    readsAnInt.returns = "int";
    EXPECT_EQ(check(readsAnInt, normal), "PAD::GET_CONTROL_NORMAL(int control, Hash action) -> int: the "
                                         "plug-in reads a float; the game gives int");
    natives::Native takesAFloat = published;
    takesAFloat.parameters = "int control, float action";
    EXPECT_EQ(check(takesAFloat, normal),
              "PAD::GET_CONTROL_NORMAL(int control, float action) -> float: argument 2 "
              "is an integer; the game takes float action");
    rec::Event e = normal;
    e.argc = 3;
    EXPECT_EQ(check(published, e),
              "PAD::GET_CONTROL_NORMAL(int control, Hash action) -> float: 3 arguments; the "
              "game takes 2");
    e = normal;
    e.argKind[1] = rec::ArgKind::Text;
    EXPECT_EQ(check(published, e),
              "PAD::GET_CONTROL_NORMAL(int control, Hash action) -> float: argument 2 is a "
              "pointer; the game takes Hash action");
    e = normal;
    e.args[1] = 0x7FFC12345678ull; // an address passed as a value
    EXPECT_NE(check(published, e).find("argument 2 is an integer of 64 bits"), std::string::npos);

    // 100 passed where the game takes a float, as _RESTORE_PED_STAMINA(ped, 100) would.
    e = rec::Event();
    e.hash = natives::RestorePedStamina;
    e.argc = 2;
    e.args[0] = 1001;
    e.args[1] = 100;
    EXPECT_EQ(check(*nativeOf(e.hash), e),
              "PED::_RESTORE_PED_STAMINA(Ped ped, float stamina) -> void: argument 2 "
              "holds 0x00000064, an integer's bits; the game takes float stamina");
    // A void native's answer read.
    e = rec::Event();
    e.hash = natives::UiPromptDelete;
    e.argc = 1;
    e.resultBytes = 4;
    EXPECT_EQ(
        check(*nativeOf(e.hash), e),
        "HUD::_UI_PROMPT_DELETE(Prompt prompt) -> void: the plug-in reads an integer; the game gives void");
    // A variadic native takes at least its fixed arguments.
    e = rec::Event();
    e.hash = natives::VarString;
    e.resultBytes = 8;
    EXPECT_EQ(check(*nativeOf(e.hash), e),
              "MISC::VAR_STRING(int flags, ...) -> const char*: 0 arguments; the game takes at least 1");
    // A BOOL left unread is no disagreement: the plug-in needs nothing of it.
    e = rec::Event();
    e.hash = natives::MoneyDecrementCashBalance;
    e.argc = 1;
    e.args[0] = 1000;
    EXPECT_EQ(check(*nativeOf(e.hash), e), "");
}
