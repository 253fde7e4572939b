"""What the browser tests of the session page hold it to, apart from the tests
themselves, so that the planted faults run through the very same checks: a
headless Chromium that records every request and console message, the --trace
output read frame by frame, and the checks of a page against it. Each check
returns a list of problems (empty when the page is right)."""

import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import time
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
WINDOW = (1500, 1900)


def run(command, expect=0, cwd=None):
    """Runs a command; its standard output, or the test fails with its words."""
    done = subprocess.run(command, capture_output=True, text=True, errors="replace", cwd=cwd)
    if done.returncode != expect:
        raise AssertionError("%s: exit status %d, not %d\n%s%s" % (
            " ".join(command), done.returncode, expect, done.stdout[-3000:], done.stderr[-3000:]))
    return done.stdout


# ---------------------------------------------------------------------------
# The browser.

class Browser:
    """Headless Chromium, as the project runs it here: no network of its own (no
    background requests, no component updates), a fresh profile, and the logs of
    every request and console message kept."""

    def __init__(self):
        self.profile = tempfile.mkdtemp(prefix="tolvenmire-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", "--hide-scrollbars", "--force-device-scale-factor=1",
                     "--user-data-dir=" + self.profile, "--window-size=%d,%d" % WINDOW):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL", "performance": "ALL"})
        self.driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        self.driver.set_window_size(*WINDOW)

    def close(self):
        self.driver.quit()
        shutil.rmtree(self.profile, ignore_errors=True)

    def open(self, path, fragment=""):
        """Opens a page from the disk and waits until it has drawn its first frame.
        The logs start afresh with it."""
        self.driver.get_log("browser")
        self.driver.get_log("performance")
        self.driver.get("about:blank")
        url = "file://" + os.path.abspath(path) + fragment
        self.driver.get(url)
        WebDriverWait(self.driver, 30).until(
            lambda d: d.execute_script("return !!(window.tolvenmirePage && tolvenmirePage.ready)"))
        return url

    def problems_loading(self, url):
        """The requests a page made besides its own file, and its console's errors."""
        problems = []
        for entry in self.driver.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message.get("method") != "Network.requestWillBeSent":
                continue
            requested = message["params"]["request"]["url"]
            if requested.split("#")[0] not in (url.split("#")[0], "about:blank"):
                problems.append("a request for " + requested)
        for entry in self.driver.get_log("browser"):
            if entry["level"] in ("SEVERE", "ERROR"):
                problems.append("console: " + entry["message"])
        return problems

    def view(self):
        """The frame at the cursor as the page shows it."""
        return self.driver.execute_script(VIEW_SCRIPT)

    def keys(self, *keys):
        actions = ActionChains(self.driver)
        for key in keys:
            actions.send_keys(key)
        actions.perform()

    def hud_png(self):
        return self.driver.find_element(By.ID, "hud-frame").screenshot_as_png


VIEW_SCRIPT = """
const text = (id) => document.getElementById(id).textContent;
const state = {};
for (const row of document.querySelectorAll('#state tr')) state[row.dataset.field] = row.cells[1].textContent;
const current = document.querySelector('#timeline .line.current');
const box = document.getElementById('timeline');
return {
  frame: +text('frame-number'),
  time: text('frame-time'),
  host: text('host-frame'),
  state: state,
  sprites: document.querySelectorAll('#hud-sprites > g.sprite').length,
  textures: [...document.querySelectorAll('#sprite-table tbody tr')].map((r) => r.cells[2].textContent),
  calls: [...document.querySelectorAll('#calls li')].map((li) => li.textContent),
  address: location.hash,
  line: current ? current.textContent : null,
  lineFrame: current ? +current.dataset.frame : null,
  lineVisible: current ? (current.offsetTop - box.offsetTop >= box.scrollTop &&
      current.offsetTop - box.offsetTop + current.offsetHeight <= box.scrollTop + box.clientHeight) : null,
};
"""

# Every line of the timeline clicked in turn, and what the page then shows.
CLICK_EVERY_LINE_SCRIPT = """
const out = [];
const state = () => {
  const s = {};
  for (const row of document.querySelectorAll('#state tr')) s[row.dataset.field] = row.cells[1].textContent;
  return s;
};
for (const line of document.querySelectorAll('#timeline .line')) {
  line.click();
  out.push({
    text: line.textContent,
    frame: +document.getElementById('frame-number').textContent,
    time: document.getElementById('frame-time').textContent,
    host: document.getElementById('host-frame').textContent,
    state: state(),
    calls: [...document.querySelectorAll('#calls li')].map((li) => li.textContent),
  });
}
return out;
"""


# ---------------------------------------------------------------------------
# What --trace gives.

TRACE_LINE = re.compile(r"^ +· (\S+)  frame (\d+)  (.*)$")


class Trace:
    """The calls of `--trace`, by load of the plug-in and frame of the load."""

    def __init__(self, text):
        self.loads = []  # each: {host frame: [call text, ...]}
        for line in text.splitlines():
            m = TRACE_LINE.match(line)
            if not m:
                continue
            frame, call = int(m.group(2)), m.group(3)
            if call.startswith("scriptRegister("):
                self.loads.append({})
            self.loads[-1].setdefault(frame, []).append(call)

    def calls(self, load, frame):
        return self.loads[load - 1].get(frame, [])

    def meters(self, load, frame):
        """The levels the frame's meters draw, or None when it draws none: the flask
        meter's level sprite (none: 0), the intoxication meter's (99: 99 or more)."""
        flask = intake = None
        for call in self.calls(load, frame):
            m = re.search(r'DRAW_SPRITE\("(.*?)", "(.*?)", ([0-9.]+), ', call)
            if not m:
                continue
            dictionary, texture, x = m.group(1), m.group(2), m.group(3)
            level = int(texture[len("RPG_METER_"):]) if dictionary == "RPG_METER" else None
            if x == "0.47":
                flask = level if level is not None else (flask or 0)
            elif x == "0.53":
                intake = level if level is not None else (intake or 0)
        return None if flask is None else (flask, intake)

    def prompts_after(self, load, frame):
        """The prompts alive after the frame, by label, from their making and deleting."""
        texts, labels, alive = {}, {}, set()
        for f in sorted(k for k in self.loads[load - 1] if k <= frame):
            for call in self.loads[load - 1][f]:
                m = re.search(r'VAR_STRING\(10, "LITERAL_STRING", "(.*)"\) -> (\S+)$', call)
                if m:
                    texts[m.group(2)] = m.group(1)
                m = re.search(r"_UI_PROMPT_REGISTER_BEGIN\(\) -> (-?\d+)$", call)
                if m:
                    alive.add(m.group(1))
                m = re.search(r"_UI_PROMPT_SET_TEXT\((-?\d+), (\S+)\)$", call)
                if m:
                    labels[m.group(1)] = texts.get(m.group(2), "")
                m = re.search(r"_UI_PROMPT_DELETE\((-?\d+)\)$", call)
                if m:
                    alive.discard(m.group(1))
        return {labels.get(h, "") for h in alive}


def host_of(view):
    """The plug-in's frame and load the page names: "the plug-in's frame 425 of load 2"."""
    m = re.match(r"the plug-in's frame (\d+)(?: of load (\d+))?$", view["host"])
    return (int(m.group(2) or 1), int(m.group(1))) if m else (0, 0)


def strip_load_calls(calls):
    """A frame's own calls: not those the page lists beside them from a load ("frame 0  ...")."""
    return [c for c in calls if not re.match(r"frame \d+  ", c)]


def check_view_against_trace(view, trace, what):
    """The frame's calls are the trace's for it, its sprites those the trace draws in
    it, and its levels and prompts those the trace shows after it."""
    problems = []
    load, frame = host_of(view)
    if frame == 0:
        return ["%s: no frame of the plug-in's named (%r)" % (what, view["host"])]
    said = lambda p: problems.append("%s (page frame %d, the plug-in's %d of load %d): %s" % (
        what, view["frame"], frame, load, p))
    traced = trace.calls(load, frame)
    page_calls = strip_load_calls(view["calls"])
    if page_calls != traced:
        first = next((i for i, (a, b) in enumerate(zip(page_calls, traced)) if a != b),
                     min(len(page_calls), len(traced)))
        said("calls differ from --trace at call %d: page %r, trace %r" % (
            first + 1, page_calls[first:first + 1], traced[first:first + 1]))
    drawn = [c for c in traced if "GRAPHICS::DRAW_SPRITE(" in c]
    if view["sprites"] != len(drawn):
        said("%d sprites drawn, --trace has %d" % (view["sprites"], len(drawn)))
    textures = [re.search(r'DRAW_SPRITE\(".*?", "(.*?)"', c).group(1) for c in drawn]
    if view["textures"] != textures:
        said("sprite textures %s, --trace has %s" % (view["textures"], textures))
    after = trace.meters(load, frame + 1)
    if after is not None and view["state"].get("flask", "").isdigit():
        flask, intake = int(view["state"]["flask"]), int(view["state"]["intake"])
        if flask != after[0] or min(intake, 99) != after[1]:
            said("flask %d, intake %d after the frame; the next frame's meters draw %s" % (flask, intake, after))
    prompts = trace.prompts_after(load, frame)
    for label, field in (("Drink From Flask", "drink-from-flask"), ("Refill Flask", "refill-flask")):
        shown = "shown" if label in prompts else "hidden"
        if field in view["state"] and view["state"][field] not in (shown, ) and \
                not view["state"][field].startswith("not known"):
            said("%s %s, --trace: %s" % (label, view["state"][field], shown))
    return problems


LEVELS_LINE = re.compile(
    r"^ *(\S+)  levels +intake +(\d+)\D+drunk +(\d+)\D+flask +(-?\d+)\D+intensity (\S+)")


def tenths(time_text):
    """"1:02:03.4" or "2:03.4" to tenths of a second."""
    parts = time_text.split(":")
    seconds = float(parts[-1]) + 60 * int(parts[-2]) + (3600 * int(parts[-3]) if len(parts) > 2 else 0)
    return round(seconds * 10)


def check_timeline(clicked, trace):
    """Each line of the timeline goes to a frame at its time, a levels line to one
    with its levels, a drink started to the frame that started the drinking
    scenario, a prompt shown to a frame that shows it."""
    problems = []
    for c in clicked:
        line_time = c["text"].split()[0]
        if abs(tenths(line_time) - tenths(c["time"])) > 1:
            problems.append("the line %r goes to frame %d at %s" % (c["text"], c["frame"], c["time"]))
            continue
        m = LEVELS_LINE.match(c["text"])
        s = c["state"]
        if m and s.get("intake", "").isdigit():
            shown = (s["intake"], s["drunk"], s["flask"], s["intensity"].split()[0])
            if shown != (m.group(2), m.group(3), m.group(4), m.group(5)):
                problems.append("the line %r goes to frame %d, whose levels are %s" % (c["text"], c["frame"], shown))
        if re.search(r"  drink +drink started by", c["text"]):
            if not any("TASK::TASK_START_SCENARIO_IN_PLACE_HASH(" in call for call in c["calls"]):
                problems.append("the line %r goes to frame %d, which starts no drinking scenario" % (
                    c["text"], c["frame"]))
        m = re.search(r'  prompt +"(Drink From Flask|Refill Flask)" shown$', c["text"])
        if m:
            field = "drink-from-flask" if m.group(1).startswith("Drink") else "refill-flask"
            if s.get(field) != "shown":
                problems.append("the line %r goes to frame %d, where the prompt is %s" % (
                    c["text"], c["frame"], s.get(field)))
    return problems


# ---------------------------------------------------------------------------
# The page's data, for the planted faults.

DATA = re.compile(r'(<script type="application/json" id="session-data">)(.*?)(</script>)', re.S)


def edit_page(path, to, change):
    """A copy of the page at `to` with its data changed by change(data)."""
    with open(path, encoding="utf-8") as f:
        page = f.read()
    m = DATA.search(page)
    data = json.loads(m.group(2))
    change(data)
    text = json.dumps(data, ensure_ascii=True).replace("<", "\\u003c").replace(">", "\\u003e").replace("&", "\\u0026")
    with open(to, "w", encoding="utf-8") as f:
        f.write(page[:m.start(2)] + text + page[m.end(2):])
    return to


# ---------------------------------------------------------------------------
# Screenshots: PNG read with the standard library.

def read_png(data):
    """(width, height, rows of (r, g, b) tuples) of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    pos, chunks, header = 8, [], None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            chunks.append(body)
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    assert depth == 8 and colour in (2, 6) and interlace == 0, "an unexpected PNG kind"
    channels = 3 if colour == 2 else 4
    raw = zlib.decompress(b"".join(chunks))
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + a) & 255
            elif kind == 2:
                line[i] = (line[i] + b) & 255
            elif kind == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def sprite_centres(svg_text):
    """The centres of the sprites the HUD picture draws at their size, in frame pixels."""
    sprites = svg_text.split('<g id="sprites">', 1)[-1].split('<g id="magnified">', 1)[0]
    return sorted({(float(x), float(y)) for x, y in re.findall(
        r'<g class="sprite"[^>]*transform="rotate\([-0-9.]+ ([0-9.]+) ([0-9.]+)\)"', sprites)})


def wait_for(predicate, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


__all__ = ["Browser", "Trace", "Keys", "By", "run", "check_view_against_trace", "check_timeline",
           "edit_page", "read_png", "sprite_centres", "host_of", "CLICK_EVERY_LINE_SCRIPT", "wait_for"]
