"""The real res2html, its page opened from file:// in headless Chromium with no network: the picture
against resrender's, with WebGL and on the 2-D canvas; keys, drags and the address; the marks; no
request of any kind; and the page as an output: whole or not at all.

usage: python3 res2html_test.py RES2HTML RESRENDER SAMPLE_SERIES PUNCH_SCRIPT
"""
import io
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

RES2HTML = RESRENDER = SAMPLE = PUNCH = None
RED, YELLOW = (255, 0, 0), (255, 255, 0)


def run(*args, cwd=None):
    env = None
    if args[0] == RESRENDER and os.environ.get("RESRENDER_ENV"):
        # What an OpenGL program needs in the sanitizer build, for resrender alone.
        env = dict(os.environ)
        env.update(kv.split("=", 1) for kv in os.environ["RESRENDER_ENV"].split("|"))
    return subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True,
                          timeout=300, env=env)


def browser(webgl):
    """Headless Chromium as CI runs it: as root, no GPU, no network, one CSS pixel a pixel."""
    o = webdriver.ChromeOptions()
    o.binary_location = "/usr/bin/chromium"
    for a in ["--headless=new", "--no-sandbox", "--force-device-scale-factor=1",
              "--enable-unsafe-swiftshader", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
              "--host-resolver-rules=MAP * ~NOTFOUND", "--window-size=900,800",
              "--user-data-dir=" + tempfile.mkdtemp(prefix="res2html_test.")]:
        o.add_argument(a)
    if not webgl:
        o.add_argument("--disable-webgl")
    o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(options=o, service=Service("/usr/bin/chromedriver"))


def shown(driver, want, seconds=20):
    """Waits until the status line starts with want; the line."""
    deadline = time.time() + seconds
    while True:
        text = driver.find_element(By.ID, "status").text
        if text.startswith(want) or time.time() > deadline:
            return text
        time.sleep(0.02)


def picture(png_bytes):
    img = Image.open(io.BytesIO(png_bytes)).convert("RGB")
    return img.size, img.load()


def pixels_of(size, px, colour):
    """The pixels of a colour: exactly it, or near it where a line is drawn smooth."""
    w, h = size
    near = lambda p: all(abs(a - b) < 100 for a, b in zip(p, colour))
    return {(x, y) for y in range(h) for x in range(w) if near(px[x, y])}


def within_one(a, b):
    """The share of the pixels of a that lie within one pixel of one of b."""
    if not a:
        return 1.0
    near = sum(1 for (x, y) in a if any((x + dx, y + dy) in b
                                        for dx in (-1, 0, 1) for dy in (-1, 0, 1)))
    return near / len(a)


class Res2html(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        cls.series = os.path.join(cls.dir, "s")
        subprocess.run([SAMPLE, "--last", "45", "--fold", "25", cls.series], check=True,
                       timeout=120)
        cls.drivers = {}

    @classmethod
    def tearDownClass(cls):
        for d in cls.drivers.values():
            d.quit()
        cls.tmp.cleanup()

    def driver(self, webgl=True):
        if webgl not in self.drivers:
            self.drivers[webgl] = browser(webgl)
        return self.drivers[webgl]

    def page(self, name, *args):
        path = os.path.join(self.dir, name)
        if not os.path.exists(path):
            r = run(RES2HTML, "-o", path, *args, self.series)
            self.assertEqual(r.returncode, 0, r.stderr)
        return path

    def open(self, driver, path, fragment=""):
        driver.get("about:blank")
        driver.get("file://" + path + fragment)
        return driver

    def rendered(self, name, *args):
        out = os.path.join(self.dir, name)
        r = run(RESRENDER, "--png", out, *args, self.series)
        self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def assert_like_resrender(self, driver, png, colour=RED, what=""):
        size, page_px = picture(driver.find_element(By.ID, "view").screenshot_as_png)
        with open(png, "rb") as f:
            size_r, render_px = picture(f.read())
        self.assertEqual(size, size_r, what)
        a, b = pixels_of(size, page_px, colour), pixels_of(size, render_px, colour)
        self.assertGreater(len(b), 20, what)
        self.assertGreaterEqual(within_one(a, b), 0.97, what)
        self.assertGreaterEqual(within_one(b, a), 0.97, what)
        return a

    def test_picture_matches_resrender_in_three_views_with_webgl_and_without(self):
        views = [
            ("the start view", "300x300", "", []),
            ("turned and moved", "300x300", "#file=1&rot-x=30&rot-y=-40&tx=0.5&ty=-0.25&tz=-13",
             ["--rot-x", "30", "--rot-y", "-40", "--tx", "0.5", "--ty", "-0.25", "--tz", "-13"]),
            ("600x300", "600x300", "", ["--size", "600x300"]),
        ]
        for what, size, fragment, options in views:
            png = os.path.join(self.rendered("r-" + size + str(len(options)), "--first", "1",
                                             "--last", "1", *options), "res0001.png")
            for webgl in (True, False):
                with self.subTest(view=what, webgl=webgl):
                    d = self.open(self.driver(webgl),
                                  self.page("view" + size + ".html", "--size", size), fragment)
                    status = shown(d, "file_no:1 ")
                    # Without --dt the times count files: no unit.
                    self.assertTrue(status.startswith("file_no:1 nele:1280 res0001.inp t=1"),
                                    status)
                    self.assertNotIn("t=1 s", status)
                    self.assertEqual("2-D canvas" in status, not webgl, status)
                    self.assert_like_resrender(d, png, what=what)

    def test_keys_and_drag_change_the_file_and_the_view_as_in_the_viewer(self):
        d = self.open(self.driver(), self.page("300x300.html", "--size", "300x300", "--dt", "1"))
        shown(d, "file_no:1 ")
        canvas = d.find_element(By.ID, "view")
        keys = ActionChains(d)
        steps = [
            (lambda a: a.send_keys("n"), "file_no:2 nele:1280 res0002.inp t=2 s"),
            (lambda a: a.key_down(Keys.SHIFT).send_keys("n").key_up(Keys.SHIFT), "file_no:12 "),
            (lambda a: a.send_keys("b"), "file_no:11 "),
        ]
        for act, want in steps:
            act(ActionChains(d).click(canvas)).perform()
            self.assertTrue(shown(d, want).startswith(want))
        keys.send_keys(Keys.ARROW_UP, Keys.ARROW_UP, "d", "z").perform()
        # A drag from the canvas's centre, 30 pixels right and 10 down.
        ActionChains(d).move_to_element(canvas).click_and_hold().move_by_offset(30, 10) \
            .release().perform()
        deadline = time.time() + 10
        while "rot-y=30" not in d.current_url and time.time() < deadline:
            time.sleep(0.02)
        fragment = d.current_url.split("#", 1)[1]
        self.assertEqual(fragment, "file=11&rot-x=30&rot-y=30&tx=-0.1&ty=0&tz=-14.9&mark=0")
        png = os.path.join(self.rendered("keys", "--first", "11", "--last", "11", "--rot-x", "30",
                                         "--rot-y", "30", "--tx", "-0.1", "--tz", "-14.9"),
                           "res0011.png")
        self.assert_like_resrender(d, png, what="after keys and a drag")
        # A reload opens the same file and view.
        d.refresh()
        self.assertTrue(shown(d, "file_no:11 ").startswith("file_no:11 "))
        self.assertTrue(d.current_url.endswith(fragment))

    def test_an_address_opens_file_40_turned(self):
        for fragment, status in [
                ("#file=40&rot-x=30&rot-y=-20", "file_no:40 nele:1280 res0040.inp t=40 s"),
                ("#file=40&rot-x=30&rot-y=-20&tz=far", "file_no:40 ")]:
            d = self.open(self.driver(), self.page("300x300.html", "--size", "300x300", "--dt", "1"), fragment)
            text = shown(d, "file_no:40 ")
            self.assertTrue(text.startswith(status), text)
            self.assertEqual("ignored in the address: tz=far" in text, "far" in fragment, text)
            png = os.path.join(self.rendered("turned40", "--first", "40", "--last", "40",
                                             "--rot-x", "30", "--rot-y", "-20"), "res0040.png")
            self.assert_like_resrender(d, png, what=fragment)

    def test_marks_fall_on_the_inverted_element_only(self):
        png = os.path.join(self.rendered("marks", "--mark", "--first", "28", "--last", "28"),
                           "res0028.png")
        for webgl in (True, False):
            with self.subTest(webgl=webgl):
                d = self.open(self.driver(webgl), self.page("marks.html", "--mark"), "#file=28")
                text = shown(d, "file_no:28 ")
                self.assertIn(" inverted:3 degenerate:0", text)
                self.assert_like_resrender(d, png, colour=YELLOW, what="marks")
                # M takes them off.
                ActionChains(d).send_keys("m").perform()
                deadline = time.time() + 10
                while "inverted:" in shown(d, "file_no:28 ") and time.time() < deadline:
                    time.sleep(0.02)
                self.assertTrue(shown(d, "").startswith("file_no:28 nele:1280 res0028.inp t=28"))
                self.assertNotIn("inverted:", shown(d, ""))
                self.assertEqual(pixels_of(*picture(d.find_element(By.ID, "view")
                                                    .screenshot_as_png), YELLOW), set())

    def test_a_solvers_folding_series_is_marked_as_resrender_marks_it(self):
        """A real solver's series in millimetres, fitted: each inverted sliver shows."""
        punch = os.path.join(self.dir, "punch")
        os.mkdir(punch)
        subprocess.run(["FreeFem++", "-nw", "-v", "0", PUNCH, punch, "10"], check=True,
                       timeout=120, capture_output=True)
        out = os.path.join(self.dir, "punch-png")
        self.assertEqual(run(RESRENDER, "--fit", "--mark", "--png", out, punch).returncode, 0)
        path = os.path.join(self.dir, "punch.html")
        r = run(RES2HTML, "--fit", "--mark", "-o", path, punch)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith("view: --centre "), r.stdout)
        for webgl in (True, False):
            with self.subTest(webgl=webgl):
                d = self.open(self.driver(webgl), path, "#file=9")
                self.assertIn(" inverted:43 ", shown(d, "file_no:9 "))
                self.assert_like_resrender(d, os.path.join(out, "res0009.png"), colour=YELLOW,
                                           what="marks")

    def test_no_request_of_any_kind(self):
        path = self.page("300x300.html", "--size", "300x300", "--dt", "1")
        with open(path, encoding="utf-8") as f:
            html = f.read()
        self.assertIn("content=\"default-src 'none'; script-src 'unsafe-inline'; style-src "
                      "'unsafe-inline'; img-src data: blob:; connect-src data: blob:\"", html)
        self.assertNotIn("src=", html.replace("-src", ""))
        for webgl in (True, False):
            d = self.open(self.driver(webgl), path)
            shown(d, "file_no:1 ")
            ActionChains(d).send_keys("n", " ").pause(0.3).send_keys(" ").perform()
            self.assertEqual(d.execute_script(
                "return performance.getEntriesByType('resource').length"), 0)
            refused = [e["message"] for e in d.get_log("browser")
                       if "Content Security Policy" in e["message"] or "ERR_" in e["message"]]
            self.assertEqual(refused, [])

    def test_a_cut_file_is_named_and_left_out(self):
        cut = os.path.join(self.dir, "cut")
        shutil.copytree(self.series, cut)
        with open(os.path.join(cut, "res0003.inp"), "r+") as f:
            f.truncate(len(f.read()) // 2)
        out = os.path.join(self.dir, "cut.html")
        r = run(RES2HTML, "-o", out, cut)
        self.assertEqual(r.returncode, 1)
        fault = r.stderr.splitlines()[0]
        self.assertRegex(fault, "^" + cut + "/res0003.inp:[0-9:]+ ")
        self.assertRegex(r.stderr, r"res2html: 45 in the page in [0-9.]+ s, 0 missing, 1 broken, "
                         r"46-1010 not written; ")
        d = self.open(self.driver(), out, "#file=2")
        shown(d, "file_no:2 ")
        ActionChains(d).send_keys("n").perform()
        self.assertIn("left out: " + fault, shown(d, "file_no:4 "))

    def test_two_runs_at_once_leave_a_whole_page(self):
        big = os.path.join(self.dir, "big")
        subprocess.run([SAMPLE, "--max-size", "--last", "150", big], check=True, timeout=120)
        path = os.path.join(self.dir, "two.html")
        runs = [subprocess.Popen([RES2HTML, "-o", path, big], stderr=subprocess.PIPE)
                for _ in range(2)]
        for p in runs:
            p.communicate(timeout=300)
            self.assertEqual(p.returncode, 0)
        with open(path, "rb") as f:
            both = f.read()
        self.assertEqual(run(RES2HTML, "-o", os.path.join(self.dir, "one.html"), big).returncode, 0)
        with open(os.path.join(self.dir, "one.html"), "rb") as f:
            self.assertEqual(both, f.read())
        self.assertEqual([n for n in os.listdir(self.dir) if n.startswith(".two")], [])


if __name__ == "__main__":
    RES2HTML, RESRENDER, SAMPLE, PUNCH = (os.path.abspath(a) for a in sys.argv[1:5])
    del sys.argv[1:5]
    unittest.main(verbosity=2)
