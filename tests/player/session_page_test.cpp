// The session page's writer, without a browser: what it keeps of a session past
// its limit, and what it does with text that could end its script or hide a line.
// (The page in a browser, against --trace: tests/player/browser.)
#include "player/session_page.h"

#include "player/frame.h"

#include <gtest/gtest.h>

namespace {

using namespace player;

FrameSnapshot frameAt(int n, Millis at) {
    FrameSnapshot f;
    f.played = n;
    f.hostFrame = n;
    f.at = at;
    return f;
}

sim::Call timerCall(int frame, uint32_t answer) {
    sim::Call c;
    c.hash = natives::GetGameTimer;
    c.frame = frame;
    c.result[0] = answer;
    return c;
}

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Past an hour (here a second, to keep the test short) the page keeps the start:
// the frames, the calls and the timeline's lines up to the first frame at or after
// the limit, and says where it stops; the chart ends there.
TEST(SessionPage, ASessionPastTheLimitKeepsItsStartAndSaysSo) {
    PageLimits limits;
    limits.gameMs = 1000;
    SessionPage page(limits);
    SessionResult result;
    result.recording.title = "long.txt";
    result.recording.end = 3000;
    result.recording.samples = {{0, 1, 1, 50, 0.5f}, {2500, 9, 9, 50, 0.6f}};
    result.recording.drinks = {{500, 2800, "drink (key)"}, {2000, 2900, "drink (prompt)"}};
    for (int n = 1; n <= 90; ++n) {
        page.call(timerCall(n, 100000 + 33 * (uint32_t)n));
        page.entry(
            {33 * n, Topic::Levels, "line of frame " + std::to_string(n) + " ", 0, false, n, {}, 0, {}});
        page.frame(frameAt(n, 33 * n));
    }
    EXPECT_EQ(page.framesKept(), 31); // 31 × 33 ms = 1.023 s: the first frame at or after 1 s
    const std::string html = page.html(result, PageEnding());
    EXPECT_NE(html.find("\"frames\":31,"), std::string::npos);
    EXPECT_NE(html.find("line of frame 31 "), std::string::npos);
    EXPECT_EQ(html.find("line of frame 32 "), std::string::npos);
    EXPECT_NE(html.find("This page shows the session's first 1.0 s (frames 1 to 31): a page holds at most "
                        "1.0 s of game time and 216000 frames. The session went on for 59 frames more, to "
                        "0:03.0"),
              std::string::npos);
    // The chart: the first drink cut at the limit, the second (after it) left out.
    EXPECT_NE(html.find("drink (key): 0:00.5 to 0:01.0"), std::string::npos);
    EXPECT_EQ(html.find("drink (prompt)"), std::string::npos);
    EXPECT_NE(html.find("\"end\":1023}"), std::string::npos);
    // Every frame's timer answered the frame's time: one text, the timer added by the page.
    EXPECT_NE(html.find("\"texts\":[\"0x4F67E8ECA7D3F667 MISC::GET_GAME_TIMER() -> \"]"), std::string::npos);
    EXPECT_NE(html.find("\"timerBase\":100000,"), std::string::npos);

    SessionPage whole(limits);
    for (int n = 1; n <= 30; ++n) whole.frame(frameAt(n, 33 * n));
    EXPECT_NE(whole.html(result, PageEnding()).find("\"limit\":\"\""), std::string::npos);
}

// A timer answer that is not the frame's time (a recording's game can answer
// anything) is kept as its own text, as --trace tells it.
TEST(SessionPage, ATimerAnswerOffTheFramesTimeIsKeptAsItsText) {
    SessionPage page;
    page.call(timerCall(1, 100033));
    page.frame(frameAt(1, 33));
    page.call(timerCall(2, 7));
    page.frame(frameAt(2, 66));
    const std::string html = page.html(SessionResult(), PageEnding());
    EXPECT_NE(html.find("\"texts\":[\"0x4F67E8ECA7D3F667 MISC::GET_GAME_TIMER() -> \","
                        "\"0x4F67E8ECA7D3F667 MISC::GET_GAME_TIMER() -> 7\"]"),
              std::string::npos);
    // Each call is its text's number twice, and one when the frame's timer follows.
    EXPECT_NE(html.find("\"callLists\":[[1],[2]]"), std::string::npos);
}

// A recording whose calls differ in every frame (anyone can write one) is kept
// within the page's bounds: the calls past them are not kept, and the page says
// from which frame.
TEST(SessionPage, CallsThatDifferEveryFramePastTheBoundsAreNotKept) {
    PageLimits limits;
    limits.callTextBytes = 200;
    SessionPage texts(limits);
    limits = PageLimits();
    limits.listedCalls = 8;
    SessionPage lists(limits);
    for (int n = 1; n <= 20; ++n) {
        sim::Call c;
        c.hash = natives::GetInteriorFromEntity;
        c.argc = 1;
        c.args[0] = 1001;
        c.frame = n;
        c.result[0] = (uint64_t)n; // a new answer every frame
        for (SessionPage* page : {&texts, &lists}) {
            page->call(c);
            page->call(c);
            page->frame(frameAt(n, 33 * n));
        }
    }
    // 64 bytes a text: three fit in 200 bytes; two calls a frame: four lists in 8.
    const std::string a = texts.html(SessionResult(), PageEnding()),
                      b = lists.html(SessionResult(), PageEnding());
    EXPECT_NE(a.find("\"callsLostFrom\":4,"), std::string::npos);
    EXPECT_NE(b.find("\"callsLostFrom\":5,"), std::string::npos);
    EXPECT_NE(b.find("The calls of frame 5 and of some frames after it are not kept"), std::string::npos);
}

// What a scenario, a save file or a recording brings is any bytes: nothing of it
// ends the page's script, reads as markup, or reorders a line.
TEST(SessionPage, TextFromFilesCannotBreakOutOfThePage) {
    EXPECT_EQ(jsonString("</script><!--&\"\\\n\x01"), "\"\\u003c/script>\\u003c!--&\\\"\\\\\\n\\u0001\"");
    EXPECT_EQ(jsonString("a\xff"
                         "b"),
              "\"a\\ufffdb\"");
    EXPECT_EQ(jsonString("\xe2\x80\xa8"), "\"\\u2028\"");

    SessionPage page;
    SessionResult result;
    const std::string hostile = "</script><script>alert(1)</script>\xe2\x80\xae"
                                "evil";
    result.recording.title = hostile;
    page.entry({0, Topic::Action, hostile, 1, false, 1, {}, 0, {}});
    page.frame(frameAt(1, 33));
    PageEnding ending;
    ending.summary = {hostile};
    const std::string html = page.html(result, ending);
    // The frame's own two scripts (the data and the code) and nothing else.
    EXPECT_EQ(count(html, "</script"), 2u);
    EXPECT_EQ(count(html, "<script"), 2u);
    EXPECT_EQ(html.find("\xe2\x80\xae"), std::string::npos); // the right-to-left override, shown as \u{202E}
}

} // namespace
