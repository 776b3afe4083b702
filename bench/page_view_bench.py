"""The page of a series in headless Chromium (software WebGL): how soon the first file is drawn
after navigation, how soon the last one can be, and how long each N step and each drag frame
takes, each measured by this benchmark from outside the page's own code: listeners it adds around
the page's handlers, a pixel read back to wait until the frame is drawn, and an observer of the
status line, which names a file once it is drawn. Prints table rows; one run.

usage: python3 page_view_bench.py RES2HTML SAMPLE_SERIES
"""
import os
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By


def browser():
    o = webdriver.ChromeOptions()
    o.binary_location = "/usr/bin/chromium"
    for a in ["--headless=new", "--no-sandbox", "--force-device-scale-factor=1",
              "--enable-unsafe-swiftshader", "--disable-background-networking",
              "--disable-component-update", "--disable-sync", "--no-first-run", "--disable-quic",
              "--host-resolver-rules=MAP * ~NOTFOUND",
              "--user-data-dir=" + tempfile.mkdtemp(prefix="page_view_bench.")]:
        o.add_argument(a)
    return webdriver.Chrome(options=o, service=Service("/usr/bin/chromedriver"))


def row(what, value, unit):
    print("| %-52s | %10.3f %-4s |" % (what, value, unit))


# Installed in every document before the page's script: the time the status line first names a
# file, since navigation.
SHOWN = """
window.benchShown = null;
new MutationObserver(() => {
  const status = document.getElementById("status");
  if (window.benchShown === null && status && status.textContent.startsWith("file_no:"))
    window.benchShown = performance.now();
}).observe(document, {subtree: true, childList: true, characterData: true});
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


# Random segments drawn with WebGL both ways, as segment_bench draws them with Mesa: the share
# whose pixels differ by the way.
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


def shown_after(d, url):
    """Opens url; milliseconds from navigation until the status line names a file."""
    d.get("about:blank")
    d.get(url)
    deadline = time.time() + 60
    while d.execute_script("return window.benchShown") is None and time.time() < deadline:
        time.sleep(0.01)
    return d.execute_script("return window.benchShown")


def measure(d, path, last):
    d.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": SHOWN})
    first = statistics.median(shown_after(d, "file://" + path) for _ in range(3))
    # The last file is drawn once every chunk is decoded.
    decoded = shown_after(d, "file://%s#file=%d" % (path, last))
    d.get("file://" + path)
    shown_after(d, "file://" + path)
    d.execute_script(AROUND)
    canvas = d.find_element(By.ID, "view")
    ActionChains(d).click(canvas).perform()
    for _ in range(30):
        ActionChains(d).send_keys("n").perform()
    drag = ActionChains(d).move_to_element(canvas).click_and_hold()
    for k in range(30):
        drag.move_by_offset(2, 1 if k % 2 else -1)
    drag.release().perform()
    t = d.execute_script("return window.benchTimes")
    return first, decoded, t["keydown"], t["pointermove"]


def main():
    res2html, sample = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as top:
        d = browser()
        try:
            segments = os.path.join(top, "segments.html")
            with open(segments, "w") as f:
                f.write(SEGMENTS)
            d.get("file://" + segments)
            row("page: segments with other pixels drawn the other way",
                d.execute_script("return window.benchSegments"), "%")
            for what, args in (("sample", []), ("max-size", ["--max-size"])):
                series = os.path.join(top, what)
                subprocess.run([sample, *args, series], check=True, timeout=300)
                page = os.path.join(top, what + ".html")
                subprocess.run([res2html, "-o", page, series], check=True, timeout=300,
                               capture_output=True)
                first, decoded, steps, drags = measure(d, page, 1010)
                goal = "0.5" if what == "sample" else "1.5"
                row("page, %s: size" % what, os.path.getsize(page) / 1e6, "MB")
                row("page, %s: first frame (goal: %s s)" % (what, goal), first / 1e3, "s")
                row("page, %s: every file decoded" % what, decoded / 1e3, "s")
                row("page, %s: N step, median" % what, statistics.median(steps), "ms")
                row("page, %s: N step, slowest (goal: 30 ms)" % what, max(steps), "ms")
                row("page, %s: N steps over 30 ms, of 30" % what,
                    sum(1 for s in steps if s > 30), "")
                row("page, %s: drag frame, median" % what, statistics.median(drags), "ms")
                row("page, %s: drag frame, slowest (goal: 30 ms)" % what, max(drags), "ms")
                row("page, %s: drag frames over 30 ms, of 30" % what,
                    sum(1 for s in drags if s > 30), "")
                print("page, %s: steps %s; drag frames %s" % (what, steps, drags))
        finally:
            d.quit()


if __name__ == "__main__":
    main()
