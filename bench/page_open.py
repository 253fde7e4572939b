"""The session page of an hour, measured in headless Chromium: its size, the time
it takes to open (from the navigation's start until its first frame is drawn and
laid out), and the time a move of the scrubber takes to show (from the move until
the frame after it is painted). A benchmark, run by hand (bench/page_open.sh);
docs/performance.md has its figures.

  /usr/bin/python3 bench/page_open.py TOLVENMIRE_SIM [--opens N] [--moves N]
"""

import argparse
import os
import random
import shutil
import statistics
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "player", "browser"))
from page_checks import Browser, run  # noqa: E402  (the browser tests' harness)

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# An hour of a busy evening, a 90-second round again and again: a drink by the key,
# a paid refill at the Valentine bar, a death, a drink from the prompt.
ROUND = [(0, "press drink-key"), (15, "press stop"), (20, "enter saloon valentine"),
         (22, "target bartender at 2.5"), (24, "complete refill-prompt"), (40, "target none"),
         (42, "leave"), (50, "die 10s"), (70, "release satchel"), (71, "complete drink-prompt"),
         (85, "press stop")]


def busy_hour(path):
    lines = ["# An hour of 90-second rounds (bench/page_open.py)", "cash $1000", "flask 99"]
    for start in range(0, 3600 - 90 + 1, 90):
        for offset, what in ROUND:
            t = start + offset
            lines.append("%d:%02d:%02d %s" % (t // 3600, t // 60 % 60, t % 60, what))
    lines.append("1:00:00 end")
    with open(path, "w") as f:
        f.write("\n".join(lines) + "\n")
    return path


# A move to frame `f`, and the time until the frame after it is painted.
MOVE_SCRIPT = """
const done = arguments[arguments.length - 1];
const t0 = performance.now();
tolvenmirePage.go(arguments[0]);
const script = performance.now() - t0;
requestAnimationFrame(() => requestAnimationFrame(() => done([script, performance.now() - t0])));
"""

# The same by the key: Page Down, as a person moves a second on.
KEY_SCRIPT = """
const done = arguments[arguments.length - 1];
const t0 = performance.now();
document.dispatchEvent(new KeyboardEvent('keydown', {key: 'PageDown', bubbles: true}));
requestAnimationFrame(() => requestAnimationFrame(() => done(performance.now() - t0)));
"""


def measure(browser, page, opens, moves):
    size = os.path.getsize(page)
    opened, loaded = [], []
    for _ in range(opens):
        t0 = time.monotonic()
        browser.open(page)
        loaded.append((time.monotonic() - t0) * 1000)
        opened.append(browser.driver.execute_script("return tolvenmirePage.openMs"))
    frames = browser.driver.execute_script("return +document.getElementById('frame-count').textContent.replace(/,/g, '')")
    rng = random.Random(7)
    drawn, scripted = [], []
    for _ in range(moves):
        script, painted = browser.driver.execute_async_script(MOVE_SCRIPT, rng.randint(1, frames))
        scripted.append(script)
        drawn.append(painted)
    browser.driver.execute_script("tolvenmirePage.go(1)")
    keyed = [browser.driver.execute_async_script(KEY_SCRIPT) for _ in range(moves // 4)]
    problems = browser.problems_loading("file://" + os.path.abspath(page))
    return size, frames, opened, loaded, scripted, drawn, keyed, problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("sim")
    parser.add_argument("--opens", type=int, default=5)
    parser.add_argument("--moves", type=int, default=200)
    args = parser.parse_args()
    work = tempfile.mkdtemp(prefix="tolvenmire-page-bench-")
    try:
        long_night = os.path.join(ROOT, "scenarios", "long-night.txt")
        pages = []
        for name, command in (
                ("long-night.txt", [long_night]),
                ("an hour of 90 s rounds", [busy_hour(os.path.join(work, "busy-hour.txt"))])):
            page = os.path.join(work, name.split()[0].replace(".txt", "") + ".html")
            t0 = time.monotonic()
            run([args.sim] + command + ["--quiet", "--no-pictures", "--html", page])
            pages.append((name, page, time.monotonic() - t0))
        # long-night, recorded and replayed: the replay's page.
        recording = os.path.join(work, "long-night.rec")
        run([args.sim, long_night, "--quiet", "--no-pictures", "--record", recording])
        page = os.path.join(work, "long-night-replay.html")
        t0 = time.monotonic()
        run([args.sim, "--replay", recording, "--quiet", "--no-pictures", "--html", page])
        pages.append(("long-night.txt recorded, replayed", page, time.monotonic() - t0))

        browser = Browser()
        try:
            print("%-36s %9s %8s %9s %11s %21s %12s %9s" % (
                "page", "bytes", "frames", "written", "open: med", "move: med/95 %/max", "script: max",
                "PageDown"))
            for name, page, written in pages:
                size, frames, opened, loaded, scripted, drawn, keyed, problems = measure(
                    browser, page, args.opens, args.moves)
                drawn.sort()
                print("%-36s %9s %8s %8.1fs %8.0f ms %9.1f/%5.1f/%5.1f ms %9.1f ms %6.1f ms" % (
                    name, format(size, ","), format(frames, ","), written, statistics.median(opened),
                    statistics.median(drawn), drawn[int(len(drawn) * 0.95)], drawn[-1], max(scripted),
                    statistics.median(keyed)))
                print("%-36s %s" % ("", "opens (ms, navigation to the first frame drawn): " +
                                    ", ".join("%.0f" % v for v in opened) +
                                    "; the driver's page load: " + ", ".join("%.0f" % v for v in loaded)))
                if problems:
                    print("  problems: " + "; ".join(problems))
        finally:
            browser.close()
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
