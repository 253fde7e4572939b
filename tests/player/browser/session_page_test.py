"""The session page (tolvenmire-sim --html) in a real browser, headless Chromium:
the evening's page and a kept recording's load without a console error and ask
for nothing; moving to a frame by key, by a timeline click and by the address
shows what --trace gives for that frame; a replay that departs opens on its
difference; the HUD panel has the sprites where the HUD picture has them. The
same checks fail on pages with faults planted in them.

Run by ctest (tests/player/browser/CMakeLists.txt), a class a test:
  TOLVENMIRE_SIM=... SCENARIOS_DIR=... RECORDINGS_DIR=... CHANGED_PLUGIN=... PAGE_WORK=... \\
      python3 session_page_test.py EveningPage
"""

import os
import re
import shutil
import sys
import tempfile
import unittest

from page_checks import (CLICK_EVERY_LINE_SCRIPT, Browser, By, Keys, Trace, check_timeline,
                         check_view_against_trace, edit_page, host_of, read_png, run, sprite_centres)

SIM = os.environ.get("TOLVENMIRE_SIM", "")
SCENARIOS = os.environ.get("SCENARIOS_DIR", "")
RECORDINGS = os.environ.get("RECORDINGS_DIR", "")
CHANGED_PLUGIN = os.environ.get("CHANGED_PLUGIN", "")
WORK = os.environ.get("PAGE_WORK", tempfile.gettempdir())
SCREENSHOT = os.environ.get("PAGE_SCREENSHOT", "")


def scratch(name):
    os.makedirs(WORK, exist_ok=True)
    return tempfile.mkdtemp(prefix=name + "-", dir=WORK)


class PageTest(unittest.TestCase):
    """A page made by the test, its --trace, and a browser; each class makes its own."""

    @classmethod
    def make(cls):  # sets cls.page, cls.trace
        raise NotImplementedError

    @classmethod
    def setUpClass(cls):
        cls.work = scratch(cls.__name__)
        cls.make()
        cls.browser = Browser()
        cls.url = cls.browser.open(cls.page)
        cls.load_problems = cls.browser.problems_loading(cls.url)

    @classmethod
    def tearDownClass(cls):
        cls.browser.close()
        shutil.rmtree(cls.work, ignore_errors=True)

    def go(self, fragment):
        self.browser.open(self.page, fragment)
        return self.browser.view()

    def assertShowsTrace(self, view, what):
        self.assertEqual(check_view_against_trace(view, self.trace, what), [])


class EveningPage(PageTest):
    @classmethod
    def make(cls):
        cls.page = os.path.join(cls.work, "evening.html")
        # One run for the page and the trace: the same calls, the same addresses. From
        # the project's folder, so that the page names the scenario as the README does.
        root = os.path.dirname(os.path.abspath(SCENARIOS))
        cls.trace = Trace(run([SIM, os.path.relpath(os.path.join(SCENARIOS, "evening.txt"), root), "--trace",
                               "--html", cls.page, "--out", cls.work], cwd=root))
        with open(os.path.join(cls.work, "evening-hud.svg"), encoding="utf-8") as f:
            cls.hud_svg = f.read()
        # The first frame of the first drink that draws the meters, from the trace.
        cls.first_meters = min(f for f, calls in cls.trace.loads[0].items()
                               if any("DRAW_SPRITE(" in c for c in calls))

    def test_loads_without_a_console_error_or_a_request(self):
        self.assertEqual(self.load_problems, [])
        with open(self.page, encoding="utf-8") as f:
            page = f.read()
        self.assertIn('http-equiv="Content-Security-Policy" content="default-src \'none\';', page)
        self.assertNotRegex(page, r'(src|href)="(https?:)?//')

    def test_keys_move_a_frame_a_second_and_to_the_ends(self):
        # To the frame before the meters, then on by one with the arrow key.
        self.go("#frame=%d" % (self.first_meters - 1))
        before = self.browser.view()
        self.assertEqual(before["sprites"], 0)
        self.assertShowsTrace(before, "the frame before the first drink's meters")
        self.browser.keys(Keys.ARROW_RIGHT)
        view = self.browser.view()
        self.assertEqual(view["frame"], self.first_meters)
        self.assertGreaterEqual(view["sprites"], 4)
        self.assertShowsTrace(view, "the first frame of the meters, by the arrow key")
        self.assertEqual(view["address"], "#frame=%d&time=%s" % (view["frame"], view["time"]))
        # A second on with Page Down, back with Page Up.
        self.browser.keys(Keys.PAGE_DOWN)
        later = self.browser.view()
        self.assertEqual(later["frame"], self.first_meters + 31)  # 33 ms frames: the first 1 s on
        self.assertShowsTrace(later, "a second on, by Page Down")
        self.browser.keys(Keys.PAGE_UP, Keys.ARROW_LEFT)
        self.assertEqual(self.browser.view()["frame"], self.first_meters - 1)
        self.browser.keys(Keys.END)
        end = self.browser.view()
        self.assertEqual((end["frame"], end["time"]), (9091, "5:00.0"))
        self.browser.keys(Keys.HOME)
        first = self.browser.view()
        self.assertEqual(first["frame"], 1)
        # The load's registrations, before the first frame, are listed with it.
        self.assertEqual([c.split("(")[0] for c in first["calls"][:2]],
                         ["frame 0  scriptRegister", "frame 0  keyboardHandlerRegister"])
        self.assertShowsTrace(first, "the first frame, by Home")

    def test_every_timeline_line_goes_to_its_moment(self):
        self.go("")
        clicked = self.browser.driver.execute_script(CLICK_EVERY_LINE_SCRIPT)
        self.assertGreater(len(clicked), 100)
        self.assertEqual(check_timeline(clicked, self.trace), [])
        # A click of the mouse on a line: its frame shows what --trace gives for it.
        self.go("#frame=1")
        line = next(l for l in self.browser.driver.find_elements(By.CSS_SELECTOR, "#timeline .line")
                    if "drink started by the prompt" in l.text)
        self.browser.driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", line)
        line.click()
        view = self.browser.view()
        self.assertEqual(view["lineFrame"], view["frame"])
        self.assertShowsTrace(view, "the line of the drink started by the prompt, clicked")

    def test_the_address_opens_the_same_moment(self):
        drinking = self.first_meters + 100
        view = self.go("#frame=%d" % drinking)
        self.assertEqual(view["frame"], drinking)
        self.assertShowsTrace(view, "#frame=")
        again = self.go("#time=" + view["time"])
        self.assertEqual(again["time"], view["time"])
        # The prompt shown from 0:40 (a release of the satchel control) until 0:42.
        shown = self.go("#time=0:41")
        self.assertEqual(shown["state"]["drink-from-flask"], "shown")
        self.assertShowsTrace(shown, "#time=0:41")
        # After the restart, the second load's frames.
        late = self.go("#time=4:58")
        self.assertEqual(host_of(late)[0], 2)
        self.assertShowsTrace(late, "#time=4:58, after the restart")

    def test_moving_the_cursor_marks_the_line_of_the_moment(self):
        view = self.go("#time=3:04.6")
        self.assertLessEqual(view["lineFrame"], view["frame"])
        self.assertIn("charged $12.00", view["line"])
        self.assertTrue(view["lineVisible"])
        self.browser.keys(Keys.HOME)
        self.assertTrue(self.browser.view()["lineVisible"])
        self.assertTrue(self.go("#time=4:52")["lineVisible"])

    def test_the_hud_panel_has_the_sprites_where_the_picture_has_them(self):
        caption = re.search(r"HUD at ([0-9:.]+) · frame (\d+) ·[^<]*· (\d+) sprites", self.hud_svg)
        self.assertIsNotNone(caption)
        view = self.go("#time=" + caption.group(1))
        self.assertEqual((view["frame"], view["sprites"]), (int(caption.group(2)), int(caption.group(3))))
        self.assertShowsTrace(view, "the HUD picture's moment")
        width, height, rows = read_png(self.browser.hud_png())
        colours = {px for row in rows[::4] for px in row[::4]}
        self.assertGreater(len(colours), 50, "the HUD panel is blank")
        # Around each sprite of the picture: the meter's dark background and bright
        # level and icon; on the same line away from them, the scene alone.
        def marks(cx, cy, half):
            x0, y0 = int(cx * width / 1280), int(cy * height / 720)
            r = max(2, int(half * width / 1280))
            box = [rows[y][x] for y in range(y0 - r, y0 + r + 1) for x in range(x0 - r, x0 + r + 1)]
            dark = sum(1 for p in box if max(p) < 40)
            bright = sum(1 for p in box if min(p) > 180)
            return dark, bright, len(box)
        centres = sprite_centres(self.hud_svg)
        self.assertEqual(len(centres), 2)
        for cx, cy in centres:
            dark, bright, n = marks(cx, cy, 14)
            self.assertGreater(dark, n // 10, "no meter background at (%g, %g)" % (cx, cy))
            self.assertGreater(bright, n // 20, "no meter level or icon at (%g, %g)" % (cx, cy))
            for away in (cx - 200, cx + 200):
                self.assertEqual(marks(away, cy, 14)[:2], (0, 0), "something drawn at (%g, %g)" % (away, cy))
        if SCREENSHOT:
            self.browser.driver.save_screenshot(SCREENSHOT)

    # Faults planted in the page's data, and pages that ask for something from
    # elsewhere: the checks above must fail on each.

    def test_sprites_shifted_by_a_frame_are_caught(self):
        def shift(data):
            data["spriteRuns"][0] += 1  # every change of the sprites a frame late
        page = edit_page(self.page, os.path.join(self.work, "shifted.html"), shift)
        self.browser.open(page, "#frame=%d" % self.first_meters)
        problems = check_view_against_trace(self.browser.view(), self.trace, "shifted")
        self.assertTrue(any("sprites drawn" in p for p in problems), problems)

    def test_a_line_linked_to_the_wrong_time_is_caught(self):
        # A frame late (the frame that starts a drink), four (the levels of a sip
        # later, at the same tenth of a second), a second (the time).
        for pattern, by in ((r"drink started by the drink key", 1), (r"levels +intake +11 ", 4),
                            (r'"Refill Flask" shown', 30)):
            def relink(data):
                line = next(l for l in data["timeline"] if re.search(pattern, l[1]))
                line[0] += by
            page = edit_page(self.page, os.path.join(self.work, "relinked.html"), relink)
            self.browser.open(page)
            clicked = self.browser.driver.execute_script(CLICK_EVERY_LINE_SCRIPT)
            problems = check_timeline(clicked, self.trace)
            self.assertEqual(len(problems), 1, (pattern, problems))

    def test_a_page_that_asks_for_anything_is_caught(self):
        with open(self.page, encoding="utf-8") as f:
            page = f.read()
        fetch = '<img src="http://127.0.0.1:9/t.png" alt="">'
        # Refused by the page's policy: the refusal is a console error.
        kept = os.path.join(self.work, "asks.html")
        with open(kept, "w", encoding="utf-8") as f:
            f.write(page.replace("<body>", "<body>" + fetch, 1))
        self.assertTrue(self.browser.problems_loading(self.browser.open(kept)))
        # Without the policy the request is made, and seen.
        bare = os.path.join(self.work, "asks-bare.html")
        with open(bare, "w", encoding="utf-8") as f:
            f.write(re.sub(r'<meta http-equiv="Content-Security-Policy"[^>]*>', "", page).replace(
                "<body>", "<body>" + fetch, 1))
        problems = self.browser.problems_loading(self.browser.open(bare))
        self.assertTrue(any(p.startswith("a request for http://127.0.0.1:9/") for p in problems), problems)


class RecordingPage(PageTest):
    @classmethod
    def make(cls):
        recording = os.path.join(RECORDINGS, "refill.rec")
        cls.page = os.path.join(cls.work, "refill.html")
        cls.trace = Trace(run([SIM, "--replay", recording, "--trace", "--html", cls.page, "--no-pictures"]))

    def test_loads_without_a_console_error_or_a_request(self):
        self.assertEqual(self.load_problems, [])

    def test_frames_show_what_the_replays_trace_gives(self):
        view = self.go("")
        self.assertGreater(view["sprites"], 0)  # opens at the HUD picture's moment: the service
        self.assertShowsTrace(view, "the opening frame")
        self.assertEqual(view["state"]["cash"], "not in the recording")
        self.browser.keys(Keys.ARROW_LEFT)
        self.assertShowsTrace(self.browser.view(), "a frame back")
        for fragment in ("#time=0:02", "#time=0:03", "#frame=1", "#time=0:08"):
            self.assertShowsTrace(self.go(fragment), fragment)

    def test_every_timeline_line_goes_to_its_moment(self):
        self.go("")
        clicked = self.browser.driver.execute_script(CLICK_EVERY_LINE_SCRIPT)
        self.assertGreater(len(clicked), 10)
        self.assertEqual(check_timeline(clicked, self.trace), [])


class DepartingReplay(PageTest):
    """scenarios/refill.txt recorded by this build and replayed with a build whose
    refill charges one unit more: the page opens on the charge."""

    @classmethod
    def make(cls):
        recording = os.path.join(cls.work, "refill.rec")
        run([SIM, os.path.join(SCENARIOS, "refill.txt"), "--record", recording, "--no-pictures", "--quiet"])
        cls.page = os.path.join(cls.work, "departs.html")
        cls.told = run([SIM, "--replay", recording, "--plugin", CHANGED_PLUGIN, "--trace", "--html", cls.page,
                        "--no-pictures"], expect=1)
        cls.trace = Trace(cls.told)

    def test_opens_on_the_difference(self):
        self.assertEqual(self.load_problems, [])
        recorded = re.search(r"^  recorded: (.*)$", self.told, re.M).group(1)
        made = re.search(r"^  made:     (.*)$", self.told, re.M).group(1)
        frame = int(re.search(r"departs from the recording at frame (\d+)", self.told).group(1))
        driver = self.browser.driver
        shown = driver.execute_script(
            "return [document.getElementById('difference').hidden,"
            " document.getElementById('recorded').textContent, document.getElementById('made').textContent,"
            " document.querySelector('#made mark').textContent]")
        self.assertEqual(shown[:3], [False, recorded, made])
        parted = next(i for i, (a, b) in enumerate(zip(recorded, made)) if a != b)
        self.assertEqual(shown[3], made[parted:])  # where the two part
        view = self.browser.view()
        self.assertEqual(host_of(view), (1, frame))
        self.assertIn("MONEY::_MONEY_DECREMENT_CASH_BALANCE", recorded)
        # The calls the build made in the frame, up to the difference.
        self.assertEqual(view["calls"], self.trace.calls(1, frame))


if __name__ == "__main__":
    missing = [name for name, value in (("TOLVENMIRE_SIM", SIM), ("SCENARIOS_DIR", SCENARIOS),
                                        ("RECORDINGS_DIR", RECORDINGS), ("CHANGED_PLUGIN", CHANGED_PLUGIN))
               if not value]
    if missing:
        sys.exit("session_page_test.py: set " + ", ".join(missing) + " (ctest does)")
    unittest.main(verbosity=2)
