"""The page of a series in headless Chromium (software WebGL): how soon the first file is drawn
after navigation, and how long each N step and each drag frame takes, measured in the page with
performance.now() up to a finished frame. Prints table rows; one run.

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


def measure(d, path):
    firsts = []
    for _ in range(3):
        d.get("about:blank")
        d.get("file://" + path)
        deadline = time.time() + 30
        while d.execute_script("return window.resviewTimings && window.resviewTimings.firstFrame")\
                is None and time.time() < deadline:
            time.sleep(0.01)
        firsts.append(d.execute_script("return window.resviewTimings.firstFrame"))
    # Every file decoded, then steps and drag frames.
    deadline = time.time() + 60
    while d.execute_script("return window.resviewTimings.decoded") is None and \
            time.time() < deadline:
        time.sleep(0.05)
    decoded = d.execute_script("return window.resviewTimings.decoded")
    canvas = d.find_element(By.ID, "view")
    ActionChains(d).click(canvas).perform()
    for _ in range(30):
        ActionChains(d).send_keys("n").perform()
    drag = ActionChains(d).move_to_element(canvas).click_and_hold()
    for k in range(30):
        drag.move_by_offset(2, 1 if k % 2 else -1)
    drag.release().perform()
    t = d.execute_script("return window.resviewTimings")
    return statistics.median(firsts), decoded, t["steps"], t["drags"]


def main():
    res2html, sample = sys.argv[1:3]
    with tempfile.TemporaryDirectory() as top:
        d = browser()
        try:
            for what, args in (("sample", []), ("max-size", ["--max-size"])):
                series = os.path.join(top, what)
                subprocess.run([sample, *args, series], check=True, timeout=300)
                page = os.path.join(top, what + ".html")
                subprocess.run([res2html, "-o", page, series], check=True, timeout=300,
                               capture_output=True)
                first, decoded, steps, drags = measure(d, page)
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
