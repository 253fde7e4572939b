// The served refill: read back call by call from the log, with its waits, the
// meters of every waiting frame, the two speech records, the save and the charge.
#include "plugin_test.h"
#include "standin/native_table.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

using sim::CallKind;

const char* const ValentineVoice = "0475_U_M_M_VALBARTENDER_01";

// Frames of 25 ms: every wait of the refill (1000, 1500 or 2000 ms) then ends on a
// timer reading that equals its deadline, which must wait one frame more.
const uint32_t FrameMs = 25;

// What a refill is expected to do.
struct Expected {
    int32_t flaskBefore = 99;      // the flask meter until the flask is filled
    int32_t intake = 0;            // the intake meter throughout
    int32_t amount = 1000;         // the charge
    const char* thanks = "ARTHUR"; // the player's voice; nullptr: no thanks line
};

// One refill in the log: it starts with the deletion of the completed prompt.
struct Served {
    size_t from = 0;
    int frame = 0;
    int32_t prompt = 0;
    size_t speechBefore = 0;
    size_t chargesBefore = 0;
};

// Steps through the call log one call at a time; any call out of place ends the
// walk with a failure naming it.
class Walk {
  public:
    explicit Walk(size_t from) : i_(from) {}
    // The next call: the native `hash` with exactly these argument slots.
    const sim::Call* native(uint64_t hash, std::vector<uint64_t> args) {
        const sim::Call* c = counted(hash, (int)args.size());
        if (!c) return nullptr;
        for (size_t k = 0; k < args.size(); ++k)
            if (c->args[k] != args[k]) return fail(*c, "argument " + std::to_string(k) + " differs");
        return c;
    }
    // The next call: the native `hash` with `argc` arguments.
    const sim::Call* counted(uint64_t hash, int argc) {
        const sim::Call* c = next();
        if (!c) return nullptr;
        if (c->kind != CallKind::Native || c->hash != hash) {
            std::ostringstream want;
            want << "expected native 0x" << std::hex << std::uppercase << hash;
            return fail(*c, want.str());
        }
        if (c->argc != argc) return fail(*c, "expected " + std::to_string(argc) + " arguments");
        return c;
    }
    bool wait() {
        const sim::Call* c = next();
        if (!c) return false;
        if (c->kind != CallKind::Wait || c->waitMs != 0) return fail(*c, "expected scriptWait(0)") != nullptr;
        return true;
    }
    // The two meters of one waiting frame, sprite by sprite (their places and
    // colours are the meters' own affair): the level sprites only for levels that
    // are not 0.
    bool meters(int32_t flask, int32_t intake) {
        std::vector<std::pair<std::string, std::string>> want;
        if (flask != 0) want.emplace_back("RPG_METER", "RPG_METER_" + std::to_string(flask));
        want.emplace_back("RPG_TEXTURES", "RPG_CORE_BACKGROUND");
        want.emplace_back("INVENTORY_ITEMS", "CONSUMABLE_MOONSHINE");
        if (intake != 0) want.emplace_back("RPG_METER", "RPG_METER_" + std::to_string(std::min(intake, 99)));
        want.emplace_back("RPG_TEXTURES", "RPG_CORE_BACKGROUND");
        want.emplace_back("BLIPS", "BLIP_AMBIENT_THEATRE");
        for (const auto& [dictionary, texture] : want) {
            const sim::Call* c = counted(natives::DrawSprite, 12);
            if (!c) return false;
            if (c->str(0) != dictionary || c->str(1) != texture)
                return fail(*c, "expected sprite " + texture + " of " + dictionary) != nullptr;
        }
        ++meterFrames_;
        return true;
    }
    size_t position() const { return i_; }
    int meterFrames() const { return meterFrames_; }

  private:
    const sim::Call* next() {
        if (i_ >= sim::calls().size()) {
            ADD_FAILURE() << "the log ends in the middle of the refill";
            return nullptr;
        }
        return &sim::calls()[i_++];
    }
    static const sim::Call* fail(const sim::Call& c, const std::string& why) {
        ADD_FAILURE() << why << "; got: " << sim::describe(c);
        return nullptr;
    }
    size_t i_;
    int meterFrames_ = 0;
};

class RefillTransaction : public PluginTest {
  protected:
    // A fresh session with the player at the Valentine bar, its bartender in reach.
    // The save file's content is noted at the calls that bracket the refill's save.
    void startAtTheBar(const char* settings = nullptr, const char* save = nullptr) {
        sim::StartOptions o;
        o.withSettings = settings != nullptr;
        o.settings = settings ? settings : "";
        o.withSave = save != nullptr;
        o.save = save ? save : "";
        o.observer = [this](const sim::Call& c) { observe(c); };
        saveFile.clear();
        startWith(o);
        saveFile = sim::workDir() + "/Tolvenmire.dat";
        world().frameMs = FrameMs;
        world().interior = Valentine;
        sim::Ped ped;
        ped.handle = Bartender;
        ped.model = ValentineBartender;
        ped.x = 1.5f;
        world().peds[Bartender] = ped;
        world().target = Bartender;
    }
    void observe(const sim::Call& c) {
        if (c.kind != CallKind::Native || saveFile.empty()) return;
        if (afterScenario) savedAfterScenario = readSave();
        afterScenario = c.hash == natives::TaskStartScenarioInPlaceHash && c.argc == 7 && c.i32(2) == 10;
        if (afterScenario) savedAtScenario = readSave();
        if (c.hash == natives::DoScreenFadeIn) savedAtFadeIn = readSave();
    }
    std::string readSave() const {
        std::ifstream in(saveFile, std::ios::binary);
        if (!in) return "(none)";
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    // Shows the prompt if it is not shown, completes it, and plays the refill to
    // its end: the script is then back in its loop, before the next frame.
    static Served serve() {
        if (!state().refillPromptActive) sim::playFrames(1);
        Served s;
        s.prompt = state().refillPrompt;
        s.speechBefore = world().speech.size();
        s.chargesBefore = world().charges.size();
        EXPECT_TRUE(state().refillPromptActive);
        world().prompts[s.prompt].completed = true;
        s.frame = nextFrame();
        const std::vector<sim::Call>& log = sim::calls();
        for (size_t k = log.size(); k-- > 0 && log[k].frame == s.frame;)
            if (log[k].kind == CallKind::Native && log[k].hash == natives::UiPromptDelete) s.from = k;
        EXPECT_NE(s.from, 0u) << "the completed prompt was not deleted in frame " << s.frame;
        for (int n = 0; n < 2000; ++n) {
            const std::vector<uint64_t> h = hashesIn(nextFrame());
            if (h.empty() || h.back() != natives::DrawSprite) return s;
        }
        ADD_FAILURE() << "the refill never ended";
        return s;
    }

    // A wait of `ms`: two timer readings, then the meters and a zero wait in every
    // frame until a reading is past the deadline.
    static bool serviceWait(Walk& w, int32_t ms, int32_t flask, int32_t intake, int32_t* firstReading,
                            int32_t* lastReading) {
        const sim::Call* start = w.counted(natives::GetGameTimer, 0);
        if (!start) return false;
        if (firstReading) *firstReading = start->resultInt();
        const int32_t deadline = start->resultInt() + ms;
        int waited = 0;
        for (;;) {
            const sim::Call* t = w.counted(natives::GetGameTimer, 0);
            if (!t) return false;
            if (t->resultInt() > deadline) {
                *lastReading = t->resultInt();
                break;
            }
            if (!w.meters(flask, intake) || !w.wait()) return false;
            if (++waited > 1000) return false;
        }
        EXPECT_EQ(waited, ms / (int32_t)FrameMs + 1) << "the wait of " << ms << " ms; a reading equal to the "
                                                     << "deadline waits one frame more";
        return true;
    }

    static void expectSpeech(const sim::Speech& s, int32_t speaker, const char* line, const char* voice) {
        EXPECT_EQ(s.speaker, speaker);
        EXPECT_EQ(s.line, line);
        EXPECT_EQ(s.voice, voice);
        EXPECT_NE(s.slots[0], 0u);
        EXPECT_NE(s.slots[1], 0u);
        // Slots 3 to 8 by their low 32 bits.
        const uint32_t low[6] = {0xFFFFFFFF, 0x67F3AB43, 0xFFFFFFFF, 1, 0xFFFFFFFF, 0xFFFFFFFF};
        for (int k = 2; k < 8; ++k) EXPECT_EQ((uint32_t)s.slots[k], low[k - 2]) << line << ", slot " << k + 1;
    }

    // Reads the whole refill back from the log; false when it strays from the
    // sequence (the failure names the call).
    static bool expectServed(const Served& s, const Expected& x) {
        Walk w(s.from);
        const uint64_t ped = (uint32_t)world().playerPed;
        const int32_t before = x.flaskBefore;
        int32_t first = 0, last = 0, unused = 0;
        if (!w.native(natives::UiPromptDelete, {(uint32_t)s.prompt}) ||
            !w.native(natives::SetPlayerControl, {0, 0, 0, 0}))
            return false;
        const sim::Call* line = w.counted(natives::PlayPedAmbientSpeechNative, 2);
        if (!line) return false;
        EXPECT_EQ(line->args[0], (uint64_t)Bartender);
        EXPECT_NE(line->args[1], 0u);
        if (!serviceWait(w, 1000, before, x.intake, &first, &unused) ||
            !w.native(natives::DoScreenFadeOut, {1500}) ||
            !serviceWait(w, 1500, before, x.intake, nullptr, &unused))
            return false;
        const sim::Call* scenario = w.counted(natives::GetHashKey, 1);
        if (!scenario) return false;
        EXPECT_EQ(scenario->str(0), "WORLD_HUMAN_DRINK_FLASK");
        EXPECT_EQ((uint32_t)scenario->result[0], 0x4CA3FEA4u);
        if (!w.native(natives::TaskStartScenarioInPlaceHash,
                      {ped, (uint32_t)scenario->result[0], 10, 0, 0, 0, 0}) ||
            !serviceWait(w, 1000, 99, x.intake, nullptr, &unused) ||
            !w.native(natives::DoScreenFadeIn, {1500}) ||
            !serviceWait(w, 1000, 99, x.intake, nullptr, &unused) ||
            !w.native(natives::SetPlayerControl, {0, 1, 0, 0}) ||
            !w.native(natives::MoneyDecrementCashBalance, {(uint32_t)x.amount}) ||
            !serviceWait(w, 1000, 99, x.intake, nullptr, &unused))
            return false;
        if (x.thanks) {
            if (!w.native(natives::GetEntityModel, {ped})) return false;
            const sim::Call* thanks = w.counted(natives::PlayPedAmbientSpeechNative, 2);
            if (!thanks) return false;
            EXPECT_EQ(thanks->args[0], ped);
        }
        // The last reading ends the refill and the frame: the script loop's zero wait.
        if (!serviceWait(w, 2000, 99, x.intake, nullptr, &last) || !w.wait()) return false;
        EXPECT_EQ(w.position(), sim::calls().size());

        EXPECT_EQ(last - first, 7500 + 6 * (int32_t)FrameMs) << "six waits, each one frame past its deadline";
        EXPECT_EQ(w.meterFrames(), 7500 / (int32_t)FrameMs + 6);
        // The speech records, all eight slots.
        const size_t lines = x.thanks ? 2 : 1;
        EXPECT_EQ(world().speech.size(), s.speechBefore + lines);
        if (world().speech.size() >= s.speechBefore + lines) {
            expectSpeech(world().speech[s.speechBefore], Bartender, "CHAT_PREPARE_DRINK", ValentineVoice);
            if (x.thanks)
                expectSpeech(world().speech[s.speechBefore + 1], world().playerPed,
                             "PLAYER_SHOP_THANKS_NEUTRAL", x.thanks);
        }
        EXPECT_EQ(world().charges.size(), s.chargesBefore + 1);
        if (world().charges.size() > s.chargesBefore) {
            EXPECT_EQ(world().charges[s.chargesBefore], x.amount);
        }
        EXPECT_TRUE(world().playerControl);
        EXPECT_FALSE(world().screenFadedOut);
        EXPECT_EQ(state().flaskLevel, 99);
        EXPECT_FALSE(state().refillPromptActive);
        EXPECT_FALSE(world().prompts[s.prompt].alive);
        EXPECT_EQ(world().prompts[s.prompt].deletedFrame, s.frame);
        return true;
    }

    // Drinks until intakeLevel reaches `intake`, then ends the drink with a stop
    // control.
    static void drinkTo(int32_t intake) {
        sim::keyEvent(79, 0, 0, 1);
        for (int n = 0; n < 3000 && state().intakeLevel < intake; ++n) sim::playFrames(1);
        world().analog[StopControl] = 1.0f;
        sim::playFrames(1);
        world().analog.erase(StopControl);
        ASSERT_FALSE(state().drinking);
        ASSERT_GE(state().intakeLevel, intake);
    }
    static void playUntilDrunkLevel(int32_t level) {
        for (int n = 0; n < 5000 && state().drunkLevel != level; ++n) sim::playFrames(1);
        ASSERT_EQ(state().drunkLevel, level);
    }

    std::string saveFile;
    bool afterScenario = false;
    std::string savedAtScenario, savedAfterScenario, savedAtFadeIn;
};

TEST_F(RefillTransaction, ServesInOrderAndServesAFullFlaskAgain) {
    startAtTheBar(nullptr, "0");
    sim::playFrames(1);
    ASSERT_EQ(state().flaskLevel, 0);

    // An empty flask and no intake: four sprites a frame until the flask is
    // filled, five after.
    Expected x;
    x.flaskBefore = 0;
    Served s = serve();
    EXPECT_TRUE(expectServed(s, x));
    EXPECT_EQ(savedAtScenario, "0");
    EXPECT_EQ(savedAfterScenario, "99") << "saved right after the scenario starts";
    EXPECT_EQ(savedAtFadeIn, "99") << "saved before the screen fades back in";
    EXPECT_EQ(readSave(), "99");
    EXPECT_EQ(world().cash, 100000 - 1000);
    ASSERT_EQ(world().controlChanges.size(), 2u);
    EXPECT_EQ(world().controlChanges[0], std::make_pair(s.frame, 0));
    EXPECT_EQ(world().controlChanges[1].second, 1);
    EXPECT_EQ(world().fadeOuts, 1);
    EXPECT_EQ(world().fadeIns, 1);

    // Nothing of the refill is left over: the next frame is an ordinary one, and
    // with the bartender still in reach it offers a new prompt.
    const int next = nextFrame();
    const std::vector<uint64_t> h = hashesIn(next);
    ASSERT_GE(h.size(), 2u);
    EXPECT_EQ(h[0], natives::GetMissionFlag);
    EXPECT_EQ(h[1], natives::PlayerPedId);
    ASSERT_TRUE(state().refillPromptActive);
    EXPECT_NE(state().refillPrompt, s.prompt);
    EXPECT_EQ(world().prompts[state().refillPrompt].createdFrame, next);

    // A full flask is served and charged all the same, and saved again.
    std::filesystem::remove(saveFile);
    s = serve();
    EXPECT_TRUE(expectServed(s, Expected{}));
    EXPECT_EQ(readSave(), "99");
    EXPECT_EQ(world().charges, (std::vector<int32_t>{1000, 1000}));
    EXPECT_EQ(world().cash, 100000 - 2000);
}

TEST_F(RefillTransaction, ThePlayerThanksInTheVoiceOfItsModel) {
    startAtTheBar();
    const struct {
        uint32_t model;
        const char* voice;
    } players[] = {{sim::nameHash("PLAYER_ZERO"), "ARTHUR"},
                   {sim::nameHash("PLAYER_THREE"), "JOHN_PLAYER"},
                   {0x0D7114C8, ""},
                   {ValentineBartender, ""},
                   {0, ""}};
    for (const auto& p : players) {
        world().playerModel = p.model;
        Expected x;
        x.thanks = p.voice;
        EXPECT_TRUE(expectServed(serve(), x)) << "player model " << std::hex << p.model;
    }
}

TEST_F(RefillTransaction, FromDrunkLevel25ThePlayerNoLongerThanks) {
    // Sobering is slowed to a crawl so that the intake holds while drunkLevel
    // climbs to it.
    startAtTheBar("[SETTINGS]\nSOBER_UP_TIME=100000\n");
    sim::playFrames(1);
    drinkTo(29);
    if (HasFatalFailure()) return;
    playUntilDrunkLevel(24);
    if (HasFatalFailure()) return;

    // Both meters show: six sprites in every waiting frame.
    Expected x;
    x.flaskBefore = state().flaskLevel;
    x.intake = state().intakeLevel;
    ASSERT_LT(x.flaskBefore, 99);
    EXPECT_TRUE(expectServed(serve(), x));
    // Nothing stepped while the bartender served.
    EXPECT_EQ(state().drunkLevel, 24);
    EXPECT_EQ(state().intakeLevel, x.intake);

    playUntilDrunkLevel(25);
    if (HasFatalFailure()) return;
    x.flaskBefore = 99;
    x.intake = state().intakeLevel;
    x.thanks = nullptr;
    EXPECT_TRUE(expectServed(serve(), x));
    EXPECT_EQ(world().speech.size(), 3u) << "two bartender's lines, one thanks";
}

TEST_F(RefillTransaction, TheChargeIsThePriceInHundredthsHeldTo32Bits) {
    const struct {
        const char* price;
        int32_t amount;
    } prices[] = {{"0", 0},
                  {"7", 700},
                  {"21474836", 2147483600},
                  {"21474837", INT32_MAX},
                  {"2147483647", INT32_MAX},
                  {"-21474836", -2147483600},
                  {"-21474837", INT32_MIN}};
    for (const auto& p : prices) {
        const std::string settings = std::string("[SETTINGS]\nREFILL_PRICE=") + p.price + "\n";
        startAtTheBar(settings.c_str());
        if (HasFatalFailure()) return;
        Expected x;
        x.amount = p.amount;
        EXPECT_TRUE(expectServed(serve(), x)) << "price " << p.price;
        EXPECT_EQ(world().cash, 100000 - (int64_t)p.amount) << "price " << p.price;
        for (const std::string& v : sim::violations()) ADD_FAILURE() << "price " << p.price << ": " << v;
        sim::stop();
    }
}

} // namespace
