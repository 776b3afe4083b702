"""The page of a series in each browser engine (see tests/support/browsers.py): how soon the first
file is drawn after navigation, how soon the last one can be, and how long each N step and each
drag frame takes, each measured from outside the page's own code: an observer of the status line
(which names a file once it is drawn) put into a copy of the page before its script, listeners
added around the page's handlers, and a pixel read back to wait until a frame is drawn. Also,
with WebGL, the share of random segments whose pixels depend on the way they are drawn. Prints
one table, an engine a column, each line marked "E|"; one run.

usage: python3 page_view_bench.py RES2HTML SAMPLE_SERIES [ENGINE...]
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
import browsers  # noqa: E402

# Put before the page's script: the time the status line first names a file, since navigation.
SHOWN = """<script>
window.benchShown = null;
new MutationObserver(() => {
  const status = document.getElementById("status");
  if (window.benchShown === null && status && status.textContent.startsWith("file_no:"))
    window.benchShown = performance.now();
}).observe(document, {subtree: true, childList: true, characterData: true});
</script>
"""

# Added to a loaded page: each key and each drag move timed from before the page's handler to
# after it, the frame finished by reading a pixel back.
AROUND = """
const gl = document.getElementById("view").getContext("webgl");
window.benchTimes = {keydown: [], pointermove: []};
let t0 = 0;
for (const kind of ["keydown", "pointermove"]) {
  window.addEventListener(kind, () => { t0 = performance.now(); }, true);
  window.addEventListener(kind, (e) => {
    if (kind === "pointermove" && !(e.buttons & 1)) return;
    if (gl) gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
    window.benchTimes[kind].push(performance.now() - t0);
  });
}
"""

# Random segments drawn with WebGL both ways: the share whose pixels differ by the way.
SEGMENTS = """<!DOCTYPE html><canvas id="c" width="300" height="300"></canvas><script>
"use strict";
const gl = document.getElementById("c").getContext("webgl", {antialias: false});
const shader = (type, text) => {
  const s = gl.createShader(type); gl.shaderSource(s, text); gl.compileShader(s); return s;
};
const program = gl.createProgram();
gl.attachShader(program, shader(gl.VERTEX_SHADER,
  "attribute vec2 a; void main() { gl_Position = vec4(a, 0.0, 1.0); }"));
gl.attachShader(program, shader(gl.FRAGMENT_SHADER,
  "precision mediump float; void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }"));
gl.linkProgram(program);
gl.useProgram(program);
gl.bindBuffer(gl.ARRAY_BUFFER, gl.createBuffer());
gl.enableVertexAttribArray(0);
gl.vertexAttribPointer(0, 2, gl.FLOAT, false, 0, 0);
let seed = 7;
const random = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
const pixels = [new Uint8Array(360000), new Uint8Array(360000)];
let differ = 0;
const n = 2000;
for (let k = 0; k < n; ++k) {
  const a = [random() * 2.2 - 1.1, random() * 2.2 - 1.1];
  const b = k % 3 ? [random() * 2.2 - 1.1, random() * 2.2 - 1.1]
    : [a[0] + (random() - 0.5) * 0.02, a[1] + (random() - 0.5) * 0.02];
  [a.concat(b), b.concat(a)].forEach((ends, way) => {
    gl.clear(gl.COLOR_BUFFER_BIT);
    gl.bufferData(gl.ARRAY_BUFFER, new Float32Array(ends), gl.STATIC_DRAW);
    gl.drawArrays(gl.LINES, 0, 2);
    gl.readPixels(0, 0, 300, 300, gl.RGBA, gl.UNSIGNED_BYTE, pixels[way]);
  });
  differ += pixels[0].some((v, i) => v !== pixels[1][i]) ? 1 : 0;
}
window.benchSegments = 100 * differ / n;
</script>"""


def timed_copy(page, top):
    """A copy of the page with the status observer before its first script."""
    with open(page, encoding="utf-8") as f:
        html = f.read()
    at = html.index("<script")
    copy = os.path.join(top, "timed-" + os.path.basename(page))
    with open(copy, "w", encoding="utf-8") as f:
        f.write(html[:at] + SHOWN + html[at:])
    return copy


def shown_after(b, path, fragment=""):
    """Opens the page; milliseconds from navigation until its status line names a file."""
    b.open(path, fragment)
    deadline = time.time() + 120
    while b.run("return window.benchShown") is None and time.time() < deadline:
        time.sleep(0.01)
    return b.run("return window.benchShown")


def measure(b, path, last, goal):
    """The figures of one page in one browser, by name."""
    first = statistics.median(shown_after(b, path) for _ in range(3))
    # The last file is drawn once every chunk is decoded.
    decoded = shown_after(b, path, "#file=%d" % last)
    shown_after(b, path)
    b.run(AROUND)
    b.click("view")
    # Keys at a key's repeat rate, drag moves at a screen's.
    b.keys(*["n"] * 30, pause=40)
    b.drag("view", [(2, 1 if k % 2 else -1) for k in range(30)], pause=16)
    t = b.run("return window.benchTimes")
    steps, drags = t["keydown"], t["pointermove"]
    return {
        "first frame (s; goal: %s)" % goal: first / 1e3,
        "every file decoded (s)": decoded / 1e3,
        "N step, median (ms)": statistics.median(steps),
        "N step, slowest (ms; goal: 30)": max(steps),
        "drag frame, median (ms)": statistics.median(drags),
        "drag frame, slowest (ms; goal: 30)": max(drags),
    }


def main():
    res2html, sample = sys.argv[1:3]
    engines = sys.argv[3:] or [e for e in browsers.ENGINES if not browsers.missing(e)]
    rows, versions = {}, {}
    with tempfile.TemporaryDirectory() as top:
        pages = []
        for what, args in (("sample", []), ("max-size", ["--max-size"])):
            series = os.path.join(top, what)
            subprocess.run([sample, *args, series], check=True, timeout=300,
                           capture_output=True)
            page = os.path.join(top, what + ".html")
            subprocess.run([res2html, "-o", page, series], check=True, timeout=300,
                           capture_output=True)
            rows.setdefault("page, %s: size (MB)" % what, {})["all"] = \
                os.path.getsize(page) / 1e6
            pages.append((what, timed_copy(page, top)))
        segments = os.path.join(top, "segments.html")
        with open(segments, "w") as f:
            f.write(SEGMENTS)
        for engine in engines:
            print("page_view_bench: %s" % engine, file=sys.stderr, flush=True)
            b = browsers.start(engine)
            try:
                versions[engine] = b.run("return navigator.userAgent")
                if b.webgl:
                    b.open(segments)
                    rows.setdefault("segments whose pixels depend on the way (%)",
                                    {})[engine] = b.run("return window.benchSegments")
                for what, page in pages:
                    goal = "0.5" if what == "sample" else "1.5"
                    for name, value in measure(b, page, 1010, goal).items():
                        rows.setdefault("page, %s: %s" % (what, name), {})[engine] = value
            finally:
                b.quit()
    print("E|| %-52s | %s |" % ("figure", " | ".join("%-12s" % e for e in engines)))
    print("E||%s|%s" % ("-" * 54, "|".join("-" * 14 for _ in engines) + "|"))
    for name, values in rows.items():
        cells = []
        for e in engines:
            v = values.get(e, values.get("all"))
            cells.append("%12s" % ("" if v is None else "%.3f" % v))
        print("E|| %-52s | %s |" % (name, " | ".join(cells)))
    for engine, agent in versions.items():
        print("E|%s: %s" % (engine, agent))


if __name__ == "__main__":
    main()
