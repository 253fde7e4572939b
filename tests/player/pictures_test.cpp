// The SVG writers: well-formed XML (read back with expat) with the elements a
// reader relies on.
#include "player/pictures.h"

#include <expat.h>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace player;

struct Element {
    std::string name;
    std::map<std::string, std::string> attrs;
    std::string text;
};

// Parses the document; false with the parser's message when it is not well-formed.
bool readXml(const std::string& xml, std::vector<Element>* out, std::string* error) {
    XML_Parser parser = XML_ParserCreate("UTF-8");
    struct Ctx {
        std::vector<Element>* out;
        std::vector<size_t> open;
    } ctx{out, {}};
    XML_SetUserData(parser, &ctx);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char* name, const XML_Char** attrs) {
            Ctx* c = (Ctx*)data;
            Element e;
            e.name = name;
            for (int i = 0; attrs[i]; i += 2) e.attrs[attrs[i]] = attrs[i + 1];
            c->open.push_back(c->out->size());
            c->out->push_back(e);
        },
        [](void* data, const XML_Char*) { ((Ctx*)data)->open.pop_back(); });
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char* s, int len) {
        Ctx* c = (Ctx*)data;
        if (!c->open.empty()) (*c->out)[c->open.back()].text.append(s, (size_t)len);
    });
    const bool ok = XML_Parse(parser, xml.data(), (int)xml.size(), 1) == XML_STATUS_OK;
    if (!ok)
        *error = std::string(XML_ErrorString(XML_GetErrorCode(parser))) + " at line " +
                 std::to_string(XML_GetCurrentLineNumber(parser));
    XML_ParserFree(parser);
    return ok;
}

std::vector<const Element*> having(const std::vector<Element>& all, const std::string& name,
                                   const std::string& attr, const std::string& value) {
    std::vector<const Element*> out;
    for (const Element& e : all) {
        if (e.name != name) continue;
        auto it = e.attrs.find(attr);
        if (it != e.attrs.end() && it->second == value) out.push_back(&e);
    }
    return out;
}

bool anyText(const std::vector<Element>& all, const std::string& text) {
    for (const Element& e : all)
        if (e.text.find(text) != std::string::npos) return true;
    return false;
}

Recording aRecording() {
    Recording r;
    r.title = "scenarios/a & b <c>.txt"; // names are text, not markup
    r.subtitle = "settings: REFILL_PRICE=12";
    r.end = 600000; // ten minutes
    // A long step series, more than any formatting buffer holds.
    for (int i = 0; i < 2000; ++i)
        r.samples.push_back({i * 300, i % 122, i % 100, 99 - i % 100, 0.5f + 0.0002f * i});
    r.drinks = {{5000, 20000, "drink (key)"}, {60000, 80000, "drink (prompt)"}};
    r.missions = {{300000, 312000, "mission"}};
    r.passOuts = {{200000, 208000, "passed out"}};
    r.refills = {{400000, 407600, "refill $12.00"}};
    r.expectations = {{10000, "flask 95", false}, {20000, "intake > 3", true}};
    return r;
}

TEST(Chart, IsWellFormedWithTheFourSeriesTheBandsAndTheExpectations) {
    const std::string svg = chartSvg(aRecording());
    std::vector<Element> doc;
    std::string error;
    ASSERT_TRUE(readXml(svg, &doc, &error)) << error;
    ASSERT_FALSE(doc.empty());
    EXPECT_EQ(doc[0].name, "svg");
    EXPECT_EQ(doc[0].attrs["width"], "1200");

    for (const char* series : {"flask", "intake", "drunk", "intensity (right axis)"}) {
        const auto paths = having(doc, "path", "data-series", series);
        ASSERT_EQ(paths.size(), 1u) << series;
        const std::string& d = paths[0]->attrs.at("d");
        EXPECT_EQ(d.rfind("M70.0 ", 0), 0u) << "starts at the left edge: " << d.substr(0, 20);
        EXPECT_GT(d.size(), 5000u) << "all the steps are there";
    }
    EXPECT_EQ(having(doc, "rect", "class", "band").size(), 5u)
        << "two drinks, a mission, a pass-out, a refill";
    EXPECT_EQ(having(doc, "path", "class", "expect failed").size(), 1u);
    EXPECT_EQ(having(doc, "path", "class", "expect").size(), 1u);
    EXPECT_TRUE(anyText(doc, "Tolvenmire session — scenarios/a & b <c>.txt"));
    EXPECT_TRUE(anyText(doc, "refill $12.00"));
    EXPECT_TRUE(anyText(doc, "10:00")) << "the time axis reaches the end";
    EXPECT_TRUE(anyText(doc, "passed out"));
    EXPECT_TRUE(anyText(doc, "mission"));
}

// A scenario's name that would reverse or hide part of the title shows with
// replacement characters instead.
TEST(Chart, ATitleThatWouldReorderOrHideTextIsReplaced) {
    Recording r = aRecording();
    r.title = "ok\xE2\x80\xAE"
              "txt.ko\xE2\x80\x8B";
    const std::string svg = chartSvg(r);
    EXPECT_EQ(svg.find("\xE2\x80\xAE"), std::string::npos);
    EXPECT_EQ(svg.find("\xE2\x80\x8B"), std::string::npos);
    EXPECT_NE(svg.find("ok\xEF\xBF\xBDtxt.ko\xEF\xBF\xBD"), std::string::npos);
}

TEST(Chart, MarksEachRestartWithALabelledLineAcrossThePlot) {
    Recording r = aRecording();
    r.restarts = {{150000, "restart", false}, {595000, "restart", false}};
    std::vector<Element> doc;
    std::string error;
    ASSERT_TRUE(readXml(chartSvg(r), &doc, &error)) << error;
    const auto lines = having(doc, "line", "class", "restart");
    ASSERT_EQ(lines.size(), 2u);
    // A quarter of the way along the time axis (70 to 1120), from the top of the
    // plot to its bottom.
    EXPECT_EQ(lines[0]->attrs.at("x1"), "332.5");
    EXPECT_EQ(lines[0]->attrs.at("x2"), "332.5");
    EXPECT_EQ(lines[0]->attrs.at("y1"), "128.0");
    EXPECT_EQ(lines[0]->attrs.at("y2"), "570.0");
    EXPECT_TRUE(anyText(doc, "restart at 2:30.0: the game quit and started again")) << "its hover text";
    const auto labels = having(doc, "text", "class", "restart-label");
    ASSERT_EQ(labels.size(), 2u);
    EXPECT_EQ(labels[0]->text, "restart");
    EXPECT_EQ(labels[0]->attrs.count("text-anchor"), 0u) << "right of the line";
    EXPECT_EQ(labels[1]->attrs.at("text-anchor"), "end") << "near the end of the plot: left of the line";
}

TEST(Chart, AnEmptySessionStillDraws) {
    Recording r;
    r.title = "empty";
    std::vector<Element> doc;
    std::string error;
    ASSERT_TRUE(readXml(chartSvg(r), &doc, &error)) << error;
}

sim::Sprite sprite(const char* dictionary, const char* texture, float x, float w, float h, float rotation,
                   int alpha) {
    sim::Sprite s;
    s.dictionary = dictionary;
    s.texture = texture;
    s.x = x;
    s.y = 0.93f;
    s.width = w;
    s.height = h;
    s.rotation = rotation;
    s.red = s.green = s.blue = alpha == 240 ? 0 : 235;
    s.alpha = alpha;
    return s;
}

TEST(Hud, DrawsEverySpriteAtItsPlaceWithItsTextureName) {
    HudShot shot;
    shot.taken = true;
    shot.at = 14000;
    shot.frame = 425;
    shot.flask = 46;
    shot.intake = 55;
    shot.sprites = {
        sprite("RPG_METER", "RPG_METER_46", 0.47f, 0.025f, 0.043f, 0.0f, 235),
        sprite("RPG_TEXTURES", "RPG_CORE_BACKGROUND", 0.47f, 0.024f, 0.042f, 0.0f, 240),
        sprite("INVENTORY_ITEMS", "CONSUMABLE_MOONSHINE", 0.47f, 0.013f, 0.0225f, 0.0f, 235),
        sprite("RPG_METER", "RPG_METER_55", 0.53f, 0.025f, 0.043f, 180.0f, 235),
        sprite("RPG_TEXTURES", "RPG_CORE_BACKGROUND", 0.53f, 0.024f, 0.042f, 0.0f, 240),
        sprite("BLIPS", "BLIP_AMBIENT_THEATRE", 0.53f, 0.013f, 0.0225f, 0.0f, 235),
    };
    const std::string svg = hudSvg(shot, "scenarios/evening.txt");
    std::vector<Element> doc;
    std::string error;
    ASSERT_TRUE(readXml(svg, &doc, &error)) << error;
    EXPECT_EQ(doc[0].attrs["width"], "1280");
    const auto frame = having(doc, "rect", "id", "frame");
    ASSERT_EQ(frame.size(), 1u);
    EXPECT_EQ(frame[0]->attrs.at("height"), "720") << "a 16:9 frame";

    // Each sprite twice: at its real size and magnified.
    const auto sprites = having(doc, "g", "class", "sprite");
    ASSERT_EQ(sprites.size(), 12u);
    // Sprite 1 at x 0.47, y 0.93 of 1280 by 720, not rotated; sprite 4 turned 180.
    EXPECT_EQ(sprites[0]->attrs.at("transform"), "rotate(0.00 601.60 669.60)");
    EXPECT_EQ(sprites[3]->attrs.at("transform"), "rotate(180.00 678.40 669.60)");
    EXPECT_EQ(sprites[1]->attrs.at("opacity"), "0.941");
    // Partly filled meters are arcs; the labels name the textures.
    EXPECT_EQ(having(doc, "path", "class", "ring").size(), 4u);
    const auto labels = having(doc, "text", "class", "texture-label");
    ASSERT_EQ(labels.size(), 6u);
    EXPECT_EQ(labels[0]->text, "1  RPG_METER / RPG_METER_46");
    EXPECT_EQ(labels[5]->text, "6  BLIPS / BLIP_AMBIENT_THEATRE");
    EXPECT_TRUE(anyText(doc, "HUD at 0:14.0 · frame 425 · flask 46 · intake 55 · 6 sprites"));
}

TEST(Hud, AFrameWithoutSpritesSaysSo) {
    HudShot shot;
    shot.taken = true;
    std::vector<Element> doc;
    std::string error;
    ASSERT_TRUE(readXml(hudSvg(shot, "x"), &doc, &error)) << error;
    EXPECT_TRUE(having(doc, "g", "class", "sprite").empty());
    EXPECT_TRUE(anyText(doc, "no sprites were drawn in this frame"));
}

} // namespace
