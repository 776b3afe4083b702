"""The real res2html and its page, opened from file:// with no network in one browser engine (see
tests/support/browsers.py): the picture against resrender's, keys, drags and the address, the
marks, a solver's folding series, no request of any kind, a file left out; with the engine
"output", the page as an output alone: whole or not at all. Each engine runs the same cases.

usage: python3 res2html_test.py ENGINE RES2HTML RESRENDER SAMPLE_SERIES PUNCH_SCRIPT
"""
import base64
import io
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "support"))
import browsers  # noqa: E402

ENGINE = RES2HTML = RESRENDER = SAMPLE = PUNCH = None
SKIPPED = 77  # ctest's mark of a test that could not run here
RED, YELLOW = (255, 0, 0), (255, 255, 0)


def run(*args, cwd=None):
    env = None
    if args[0] == RESRENDER and os.environ.get("RESRENDER_ENV"):
        # What an OpenGL program needs in the sanitizer build, for resrender alone.
        env = dict(os.environ)
        env.update(kv.split("=", 1) for kv in os.environ["RESRENDER_ENV"].split("|"))
    return subprocess.run([str(a) for a in args], cwd=cwd, capture_output=True, text=True,
                          timeout=300, env=env)


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


class Page(unittest.TestCase):
    """The page in ENGINE."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.dir = cls.tmp.name
        cls.series = os.path.join(cls.dir, "s")
        subprocess.run([SAMPLE, "--last", "45", "--fold", "25", cls.series], check=True,
                       timeout=120)
        cls.b = browsers.start(ENGINE)

    @classmethod
    def tearDownClass(cls):
        cls.b.quit()
        cls.tmp.cleanup()

    def page(self, name, *args, series=None):
        path = os.path.join(self.dir, name)
        if not os.path.exists(path):
            r = run(RES2HTML, "-o", path, *args, series or self.series)
            self.assertEqual(r.returncode, 0, r.stderr)
        return path

    def rendered(self, name, *args, series=None):
        out = os.path.join(self.dir, name)
        if not os.path.exists(out):
            r = run(RESRENDER, "--png", out, *args, series or self.series)
            self.assertEqual(r.returncode, 0, r.stderr)
        return out

    def shown(self, start):
        """Waits until the page names a file starting so, or says it cannot; the status line."""
        text = self.b.wait_for(lambda t: t.startswith(start) or t.startswith("this browser"))
        self.assertTrue(text.startswith(start), text)
        return text

    def canvas_png(self):
        """The canvas's pixels as the screen shows them; where the engine's screenshots leave
        WebGL out, as the page draws them: a redraw (the marks box's change) read in its task."""
        if self.b.shows_webgl or not self.b.webgl:
            return self.b.element_png("view")
        url = self.b.run("""
            document.getElementById("marks").dispatchEvent(new Event("change"));
            return document.getElementById("view").toDataURL("image/png");""")
        return base64.b64decode(url.split(",", 1)[1])

    def assert_like_resrender(self, png, colour=RED, what=""):
        size, page_px = picture(self.canvas_png())
        with open(png, "rb") as f:
            size_r, render_px = picture(f.read())
        self.assertEqual(size, size_r, what)
        a, b = pixels_of(size, page_px, colour), pixels_of(size, render_px, colour)
        self.assertGreater(len(b), 20, what)
        self.assertGreaterEqual(within_one(a, b), 0.97, what)
        self.assertGreaterEqual(within_one(b, a), 0.97, what)

    def test_picture_matches_resrender_in_three_views(self):
        views = [
            ("the start view", "300x300", "", []),
            ("turned and moved", "300x300", "#file=1&rot-x=30&rot-y=-40&tx=0.5&ty=-0.25&tz=-13",
             ["--rot-x", "30", "--rot-y", "-40", "--tx", "0.5", "--ty", "-0.25", "--tz", "-13"]),
            ("600x300", "600x300", "", ["--size", "600x300"]),
        ]
        for what, size, fragment, options in views:
            with self.subTest(view=what):
                png = os.path.join(self.rendered("r-" + size + str(len(options)), "--first", "1",
                                                 "--last", "1", *options), "res0001.png")
                self.b.open(self.page("view" + size + ".html", "--size", size), fragment)
                status = self.shown("file_no:1 ")
                # Without --dt the times count files: no unit.
                self.assertTrue(status.startswith("file_no:1 nele:1280 res0001.inp t=1"), status)
                self.assertNotIn("t=1 s", status)
                self.assertEqual("2-D canvas" in status, not self.b.webgl, status)
                # The page inflates its data itself only where the browser cannot, and says so.
                self.assertEqual("inflated by the page" in status, self.b.run(
                    "return typeof DecompressionStream === 'undefined'"), status)
                self.assert_like_resrender(png, what=what)

    def test_keys_and_drag_change_the_file_and_the_view_as_in_the_viewer(self):
        self.b.open(self.page("300x300.html", "--size", "300x300", "--dt", "1"))
        self.shown("file_no:1 ")
        for keys, want in [(["n"], "file_no:2 nele:1280 res0002.inp t=2 s"),
                           ([("shift", "n")], "file_no:12 "), (["b"], "file_no:11 ")]:
            self.b.click("view")
            self.b.keys(*keys)
            self.shown(want)
        self.b.keys("ArrowUp", "ArrowUp", "d", "z")
        # A drag from the canvas's centre, 30 pixels right and 10 down.
        self.b.drag("view", [(30, 10)])
        deadline = time.time() + 10
        while "rot-y=30" not in self.b.url() and time.time() < deadline:
            time.sleep(0.02)
        fragment = self.b.url().split("#", 1)[1]
        self.assertEqual(fragment, "file=11&rot-x=30&rot-y=30&tx=-0.1&ty=0&tz=-14.9&mark=0")
        png = os.path.join(self.rendered("keys", "--first", "11", "--last", "11", "--rot-x", "30",
                                         "--rot-y", "30", "--tx", "-0.1", "--tz", "-14.9"),
                           "res0011.png")
        self.assert_like_resrender(png, what="after keys and a drag")
        # A reload opens the same file and view.
        self.b.reload()
        self.shown("file_no:11 ")
        self.assertTrue(self.b.url().endswith(fragment))

    def test_an_address_opens_file_40_turned(self):
        png = os.path.join(self.rendered("turned40", "--first", "40", "--last", "40",
                                         "--rot-x", "30", "--rot-y", "-20"), "res0040.png")
        for fragment, status in [
                ("#file=40&rot-x=30&rot-y=-20", "file_no:40 nele:1280 res0040.inp t=40 s"),
                ("#file=40&rot-x=30&rot-y=-20&tz=far", "file_no:40 ")]:
            self.b.open(self.page("300x300.html", "--size", "300x300", "--dt", "1"), fragment)
            text = self.shown(status)
            self.assertEqual("ignored in the address: tz=far" in text, "far" in fragment, text)
            self.assert_like_resrender(png, what=fragment)

    def test_marks_fall_on_the_inverted_element_only(self):
        png = os.path.join(self.rendered("marks", "--mark", "--first", "28", "--last", "28"),
                           "res0028.png")
        self.b.open(self.page("marks.html", "--mark"), "#file=28")
        self.assertIn(" inverted:3 degenerate:0", self.shown("file_no:28 "))
        self.assert_like_resrender(png, colour=YELLOW, what="marks")
        # M takes them off.
        self.b.keys("m")
        text = self.b.wait_for(lambda t: "inverted:" not in t, 10)
        self.assertTrue(text.startswith("file_no:28 nele:1280 res0028.inp t=28"), text)
        self.assertEqual(pixels_of(*picture(self.canvas_png()), YELLOW), set())

    def test_a_solvers_folding_series_is_marked_as_resrender_marks_it(self):
        """A real solver's series in millimetres, fitted: each inverted sliver shows."""
        punch = os.path.join(self.dir, "punch")
        os.mkdir(punch)
        subprocess.run(["FreeFem++", "-nw", "-v", "0", PUNCH, punch, "10"], check=True,
                       timeout=120, capture_output=True)
        out = self.rendered("punch-png", "--fit", "--mark", series=punch)
        r = run(RES2HTML, "--fit", "--mark", "-o", os.path.join(self.dir, "punch.html"), punch)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertTrue(r.stdout.startswith("view: --centre "), r.stdout)
        self.b.open(os.path.join(self.dir, "punch.html"), "#file=9")
        self.assertIn(" inverted:43 ", self.shown("file_no:9 "))
        self.assert_like_resrender(os.path.join(out, "res0009.png"), colour=YELLOW, what="marks")

    def test_no_request_of_any_kind(self):
        """Nothing fetched, nothing refused, while keys step and play; as far as the engine shows
        it, which a refused image then proves."""
        self.b.open(self.page("300x300.html", "--size", "300x300", "--dt", "1"))
        self.shown("file_no:1 ")
        self.b.keys("n", " ")
        time.sleep(0.3)
        self.b.keys(" ")
        self.assertEqual(self.b.run("return performance.getEntriesByType('resource').length"), 0)
        self.assertEqual(self.b.refused(), [])
        self.b.run("new Image().src = 'https://example.invalid/x.png'")
        deadline = time.time() + 10
        while not self.b.refused() and time.time() < deadline:
            time.sleep(0.05)
        self.assertNotEqual(self.b.refused(), [], "the engine shows no refusal at all")

    def test_a_browser_that_cannot_show_the_series_says_why(self):
        """A browser that draws on no canvas, and one that runs no script: each page says so."""
        path = self.page("300x300.html", "--size", "300x300", "--dt", "1")
        if not hasattr(self.b, "before_page"):
            self.skipTest("the driver runs no script before a page's")
        undo = self.b.before_page("HTMLCanvasElement.prototype.getContext = () => null;")
        try:
            self.b.open(path)
            self.assertEqual(self.b.wait_for(lambda t: t.startswith("this browser"), 10),
                             "this browser cannot show the series: it gives neither WebGL nor a "
                             "2-D canvas")
        finally:
            undo()
        if hasattr(self.b, "without_script"):
            undo = self.b.without_script()
            try:
                self.b.navigate("file://" + path)
                self.assertIn("This browser cannot show the series: the page draws it on a "
                              "canvas, with JavaScript.", self.b.text())
            finally:
                undo()

    def test_a_file_left_out_is_named(self):
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
        self.b.open(out, "#file=2")
        self.shown("file_no:2 ")
        self.b.keys("n")
        self.assertIn("left out: " + fault, self.shown("file_no:4 "))


class Output(unittest.TestCase):
    """The page as an output, with no browser."""

    def test_the_page_asks_for_nothing_beyond_itself(self):
        with tempfile.TemporaryDirectory() as top:
            series, path = os.path.join(top, "s"), os.path.join(top, "p.html")
            subprocess.run([SAMPLE, "--last", "3", series], check=True, timeout=120)
            self.assertEqual(run(RES2HTML, "-o", path, series).returncode, 0)
            with open(path, encoding="utf-8") as f:
                html = f.read()
        self.assertIn("content=\"default-src 'none'; script-src 'unsafe-inline'; style-src "
                      "'unsafe-inline'; img-src data: blob:; connect-src data: blob:\"", html)
        self.assertNotIn("src=", html.replace("-src", ""))

    def test_two_runs_at_once_leave_a_whole_page(self):
        with tempfile.TemporaryDirectory() as top:
            big = os.path.join(top, "big")
            subprocess.run([SAMPLE, "--max-size", "--last", "150", big], check=True, timeout=120)
            path = os.path.join(top, "two.html")
            runs = [subprocess.Popen([RES2HTML, "-o", path, big], stderr=subprocess.PIPE)
                    for _ in range(2)]
            for p in runs:
                p.communicate(timeout=300)
                self.assertEqual(p.returncode, 0)
            with open(path, "rb") as f:
                both = f.read()
            self.assertEqual(run(RES2HTML, "-o", os.path.join(top, "one.html"), big).returncode,
                             0)
            with open(os.path.join(top, "one.html"), "rb") as f:
                self.assertEqual(both, f.read())
            self.assertEqual([n for n in os.listdir(top) if n.startswith(".two")], [])


if __name__ == "__main__":
    ENGINE = sys.argv[1]
    RES2HTML, RESRENDER, SAMPLE, PUNCH = (os.path.abspath(a) for a in sys.argv[2:6])
    del sys.argv[1:6]
    if ENGINE != "output":
        why = browsers.missing(ENGINE)
        if why:
            print("skipped: %s %s" % (ENGINE, why))
            sys.exit(SKIPPED)
    tests = unittest.defaultTestLoader.loadTestsFromTestCase(Output if ENGINE == "output"
                                                              else Page)
    result = unittest.TextTestRunner(verbosity=2).run(tests)
    sys.exit(0 if result.wasSuccessful() else 1)
