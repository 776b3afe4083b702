"""Browsers that open a page from file:// with no network, each through its own driver, behind one
small interface that a test or a benchmark states its cases against:

  chromium, chromium-2d    headless Chromium through chromedriver; WebGL on its software renderer,
                           or none (--disable-webgl), which takes a page's 2-D path
  firefox                  Firefox on a private Xvfb, through its built-in WebDriver BiDi: WebGL
  firefox-2d               headless Firefox with no X display, which gives no WebGL
  webkitgtk, webkitgtk-2d  WebKitGTK's MiniBrowser on a private Xvfb through WebKitWebDriver; the
                           second with WebGL off
  wpe                      an older WebKit, WPE's cog headless through WPEWebDriver, where present:
                           WebGL, which its screenshots leave out (and which it keeps on under
                           automation whatever its settings say)

Where an engine's driver can, it also runs a script before a page's own (before_page) or turns
scripts off (without_script). Actions are WebDriver's own (the same JSON in the classic protocol and in BiDi); pictures are the
viewport's screenshot cropped at an element; every wait is bounded; quit() ends the browser, its
driver and its X server.
"""
import base64
import io
import json
import os
import select
import shutil
import subprocess
import tempfile
import time

ENGINES = ["chromium", "chromium-2d", "firefox", "firefox-2d", "webkitgtk", "webkitgtk-2d", "wpe"]
WIDTH, HEIGHT = 900, 800  # the viewport, in CSS pixels; one CSS pixel is one pixel everywhere

SHIFT = "\ue008"
KEYS = {"ArrowUp": "\ue013", "ArrowDown": "\ue015", "ArrowLeft": "\ue012",
        "ArrowRight": "\ue014"}

# What a page refused under its content security policy: from before its own script runs where the
# engine can add a script there, else from when it has loaded.
LISTEN_FOR_REFUSALS = """() => {
  if (window.refusedByPolicy) return;
  window.refusedByPolicy = [];
  window.addEventListener("securitypolicyviolation", (e) => {
    window.refusedByPolicy.push(e.violatedDirective + " " + e.blockedURI);
  }, true);
}"""


def missing(name):
    """Why the engine cannot run here, or None."""
    needs = {
        "chromium": ["/usr/bin/chromium", "/usr/bin/chromedriver"],
        "firefox": ["/usr/bin/firefox-esr", "/usr/bin/Xvfb"],
        "webkitgtk": ["/usr/bin/WebKitWebDriver", MINIBROWSER, "/usr/bin/Xvfb"],
        "wpe": ["/usr/bin/WPEWebDriver", "/usr/bin/cog"],
    }[name.split("-")[0]]
    absent = [p for p in needs if not os.path.exists(p)]
    return "not installed: " + ", ".join(absent) if absent else None


MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"


def start(name):
    """The browser of that name, started; raises with the reason where it cannot start."""
    kind, _, variant = name.partition("-")
    webgl = variant != "2d"
    return {"chromium": Chromium, "firefox": Firefox, "webkitgtk": WebKitGtk,
            "wpe": Wpe}[kind](name, webgl)


def end(process, seconds=20):
    """Ends a process: asked first, killed if it does not end within the seconds."""
    process.terminate()
    try:
        process.wait(seconds)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Xvfb:
    """A private X server; its display number picked by the server itself."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp",
             "-noreset"], pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        deadline = time.time() + 20
        while not number.endswith(b"\n") and time.time() < deadline:
            if select.select([read], [], [], 1)[0]:
                chunk = os.read(read, 16)
                if not chunk:
                    break
                number += chunk
        os.close(read)
        if not number.endswith(b"\n"):
            self.stop()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number.decode().strip()

    def stop(self):
        end(self.process)


class Browser:
    """What every engine offers: run a script, shoot the viewport, perform actions, navigate."""

    def __init__(self, name, webgl):
        self.name, self.webgl = name, webgl
        self.shows_webgl = True  # screenshots show what WebGL draws
        self.xvfb = None

    # The page through the interface.

    def open(self, path, fragment=""):
        self.navigate("about:blank")
        self.navigate("file://" + path + fragment)
        self.run("(%s)()" % LISTEN_FOR_REFUSALS)

    def status(self):
        return self.run("return document.getElementById('status').textContent")

    def url(self):
        return self.run("return location.href")

    def wait_for(self, test, seconds=20):
        """Waits until the status line passes test; the line."""
        deadline = time.time() + seconds
        while True:
            text = self.status()
            if test(text) or time.time() > deadline:
                return text
            time.sleep(0.02)

    def shown(self, start, seconds=20):
        """Waits until the status line starts with start; the line."""
        return self.wait_for(lambda text: text.startswith(start), seconds)

    def element_png(self, element_id):
        """The pixels of an element as the screen shows them, after two animation frames."""
        box = self.run("""
            await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
            const r = document.getElementById(%s).getBoundingClientRect();
            return [r.left, r.top, r.width, r.height, window.devicePixelRatio];
        """ % json.dumps(element_id))
        from PIL import Image
        shot = Image.open(io.BytesIO(self.screenshot()))
        x, y, w, h = [round(v * box[4]) for v in box[:4]]
        out = io.BytesIO()
        shot.crop((x, y, x + w, y + h)).save(out, "PNG")
        return out.getvalue()

    def keys(self, *presses, pause=0):
        """Presses each key in turn: a character, a name from KEYS, or ("shift", key); pause
        milliseconds after each."""
        actions = []
        for press in presses:
            shift = isinstance(press, tuple)
            key = press[1] if shift else press
            key = KEYS.get(key, key)
            down = [{"type": "keyDown", "value": SHIFT}] if shift else []
            up = [{"type": "keyUp", "value": SHIFT}] if shift else []
            actions += down + [{"type": "keyDown", "value": key},
                               {"type": "keyUp", "value": key}] + up
            if pause:
                actions.append({"type": "pause", "duration": pause})
        self.perform([{"type": "key", "id": "keyboard", "actions": actions}])

    def drag(self, element_id, moves, pause=0):
        """Presses the left button at the element's centre, moves by each (dx, dy) in turn, each
        move taking pause milliseconds, and lets go; a list of no moves clicks."""
        x, y = self.run("""
            const r = document.getElementById(%s).getBoundingClientRect();
            return [Math.round(r.left + r.width / 2), Math.round(r.top + r.height / 2)];
        """ % json.dumps(element_id))
        steps = [{"type": "pointerMove", "x": x, "y": y, "duration": 0},
                 {"type": "pointerDown", "button": 0}]
        for dx, dy in moves:
            x, y = x + dx, y + dy
            steps.append({"type": "pointerMove", "x": x, "y": y, "duration": pause})
        steps.append({"type": "pointerUp", "button": 0})
        self.perform([{"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                       "actions": steps}])

    def click(self, element_id):
        self.drag(element_id, [])

    def refused(self):
        """What the page was refused, as far as this engine shows it: its policy's violations
        and failed requests."""
        return self.run("return window.refusedByPolicy || []")

    def quit(self):
        if self.xvfb:
            self.xvfb.stop()
            self.xvfb = None

    def on_xvfb(self):
        self.xvfb = Xvfb()
        env = dict(os.environ)
        env["DISPLAY"] = self.xvfb.display
        return env


class Selenium(Browser):
    """An engine whose driver speaks WebDriver's classic protocol."""

    def run(self, body):
        # A script's promise is awaited by the driver.
        return self.driver.execute_script("return (async () => {%s})()" % body)

    def screenshot(self):
        return self.driver.get_screenshot_as_png()

    def perform(self, actions):
        from selenium.webdriver.remote.command import Command
        self.driver.execute(Command.W3C_ACTIONS, {"actions": actions})

    def navigate(self, url):
        self.driver.get(url)

    def reload(self):
        self.driver.refresh()
        self.run("(%s)()" % LISTEN_FOR_REFUSALS)

    def quit(self):
        try:
            self.driver.quit()
        finally:
            super().quit()


class Chromium(Selenium):
    def __init__(self, name, webgl):
        super().__init__(name, webgl)
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        self.profile = tempfile.mkdtemp(prefix="chromium.")
        self.said = []
        o = webdriver.ChromeOptions()
        o.binary_location = "/usr/bin/chromium"
        for a in ["--headless=new", "--no-sandbox", "--force-device-scale-factor=1",
                  "--enable-unsafe-swiftshader", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run",
                  "--disable-quic", "--host-resolver-rules=MAP * ~NOTFOUND",
                  "--window-size=%d,%d" % (WIDTH, HEIGHT), "--user-data-dir=" + self.profile]:
            o.add_argument(a)
        if not webgl:
            o.add_argument("--disable-webgl")
        o.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        self.driver = webdriver.Chrome(options=o, service=Service("/usr/bin/chromedriver"))
        # The viewport itself, whatever the window's frame takes.
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False})

    def before_page(self, script):
        """Runs script in each document before the page's own, until the returned undo."""
        key = self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument",
                                          {"source": script})["identifier"]
        return lambda: self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                                   {"identifier": key})

    def without_script(self):
        """Turns the pages' scripts off, until the returned undo."""
        self.driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled", {"value": True})
        return lambda: self.driver.execute_cdp_cmd("Emulation.setScriptExecutionDisabled",
                                                   {"value": False})

    def text(self):
        """The page's text as shown, read with no script of the page's."""
        from selenium.webdriver.common.by import By
        return self.driver.find_element(By.TAG_NAME, "body").text

    def navigate(self, url):
        self.driver.get_log("browser")  # what earlier documents said
        self.said = []
        super().navigate(url)

    def refused(self):
        # Chromium writes each refusal to its console, from the document's start; reading the
        # console empties it.
        self.said += [e["message"] for e in self.driver.get_log("browser")
                      if "Content Security Policy" in e["message"] or "ERR_" in e["message"]]
        return super().refused() + self.said

    def quit(self):
        try:
            super().quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)


class WebKitGtk(Selenium):
    def __init__(self, name, webgl):
        super().__init__(name, webgl)
        from selenium import webdriver
        env = self.on_xvfb()
        o = webdriver.WebKitGTKOptions()
        o.binary_location = MINIBROWSER
        o.add_argument("--automation")
        if not webgl:
            o.add_argument("--enable-webgl=false")
        # The driver starts the browser with its own environment: the X server's display.
        saved = os.environ.get("DISPLAY")
        os.environ["DISPLAY"] = env["DISPLAY"]
        try:
            self.driver = webdriver.WebKitGTK(executable_path="/usr/bin/WebKitWebDriver",
                                              options=o)
        except Exception:
            super().quit()
            raise
        finally:
            if saved is None:
                del os.environ["DISPLAY"]
            else:
                os.environ["DISPLAY"] = saved
        self.driver.set_window_size(WIDTH, HEIGHT)


class Wpe(Selenium):
    def __init__(self, name, webgl):
        super().__init__(name, webgl)
        from selenium import webdriver
        o = webdriver.WPEWebKitOptions()
        o.binary_location = "/usr/bin/cog"
        for a in ["--automation", "--platform=headless"]:
            o.add_argument(a)
        # The driver matches the browser's name, which is not its default here.
        self.driver = webdriver.WPEWebKit(
            executable_path="/usr/bin/WPEWebDriver", options=o,
            desired_capabilities={"browserName": "cog"}, service_log_path=os.devnull)
        # Its headless screenshots leave out what WebGL draws.
        self.shows_webgl = False


class Firefox(Browser):
    """Firefox through the WebDriver BiDi it carries, over a WebSocket."""

    PREFS = {
        "layout.css.devPixelsPerPx": "1.0",
        "browser.shell.checkDefaultBrowser": False,
        "app.update.disabledForTesting": True,
        "app.normandy.enabled": False,
        "messaging-system.rsexperimentloader.enabled": False,
        "services.settings.server": "data:,",
        "network.connectivity-service.enabled": False,
        "network.captive-portal-service.enabled": False,
    }

    def __init__(self, name, webgl):
        super().__init__(name, webgl)
        import websocket
        self.profile = tempfile.mkdtemp(prefix="firefox.")
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for key, value in self.PREFS.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(key), json.dumps(value)))
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        args = ["/usr/bin/firefox-esr", "--no-remote", "--profile", self.profile,
                "--remote-debugging-port=0"]
        if webgl:
            env = self.on_xvfb()
        else:
            args.append("--headless")
        self.log = tempfile.TemporaryFile()
        self.process = subprocess.Popen(args + ["about:blank"], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.log)
        self.events = []
        self.next_id = 0
        try:
            self.socket = websocket.create_connection(self.address() + "/session", timeout=60,
                                                        suppress_origin=True)
            self.call("session.new", {"capabilities": {}})
            self.context = self.call("browsingContext.getTree", {})["contexts"][0]["context"]
            self.call("browsingContext.setViewport", {
                "context": self.context, "viewport": {"width": WIDTH, "height": HEIGHT},
                "devicePixelRatio": 1})
            self.call("script.addPreloadScript", {"functionDeclaration": LISTEN_FOR_REFUSALS})
            self.call("session.subscribe", {"events": ["log.entryAdded"]})
        except Exception:
            self.quit()
            raise

    def address(self):
        """The WebSocket address Firefox writes to its error stream once it listens."""
        deadline = time.time() + 60
        while time.time() < deadline:
            self.log.seek(0)
            for line in self.log.read().decode(errors="replace").splitlines():
                if line.startswith("WebDriver BiDi listening on "):
                    return line.split()[-1]
            if self.process.poll() is not None:
                break
            time.sleep(0.1)
        self.log.seek(0)
        raise RuntimeError("Firefox did not listen: " + self.log.read().decode(errors="replace"))

    def call(self, method, params):
        self.next_id += 1
        self.socket.send(json.dumps({"id": self.next_id, "method": method, "params": params}))
        while True:
            message = json.loads(self.socket.recv())
            if message.get("type") == "event":
                self.events.append(message)
            elif message.get("id") == self.next_id:
                if message.get("type") == "error":
                    raise RuntimeError("%s: %s: %s" % (method, message["error"],
                                                       message.get("message", "")))
                return message["result"]

    def run(self, body):
        r = self.call("script.callFunction", {
            "functionDeclaration": "async () => {%s}" % body, "awaitPromise": True,
            "target": {"context": self.context}})
        if r["type"] == "exception":
            raise RuntimeError(r["exceptionDetails"]["text"])
        return value_of(r["result"])

    def before_page(self, script):
        """Runs script in each document before the page's own, until the returned undo."""
        key = self.call("script.addPreloadScript",
                        {"functionDeclaration": "() => {%s}" % script})["script"]
        return lambda: self.call("script.removePreloadScript", {"script": key})

    def screenshot(self):
        r = self.call("browsingContext.captureScreenshot", {"context": self.context})
        return base64.b64decode(r["data"])

    def perform(self, actions):
        self.call("input.performActions", {"context": self.context, "actions": actions})

    def navigate(self, url):
        self.call("browsingContext.navigate", {"context": self.context, "url": url,
                                               "wait": "complete"})

    def reload(self):
        self.call("browsingContext.reload", {"context": self.context, "wait": "complete"})

    def refused(self):
        # The policy's violations reach no console here: the events kept since the document
        # began, and what the console did say.
        said = [e["params"].get("text") or "" for e in self.events
                if e.get("method") == "log.entryAdded"]
        return super().refused() + [s for s in said
                                    if "Content-Security-Policy" in s or "blocked" in s]

    def quit(self):
        try:
            if getattr(self, "socket", None):
                try:
                    self.call("browser.close", {})
                except Exception:
                    pass
                self.socket.close()
            end(self.process)
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)
            super().quit()


def value_of(remote):
    """A BiDi remote value as Python's."""
    kind = remote["type"]
    if kind in ("undefined", "null"):
        return None
    if kind in ("string", "boolean"):
        return remote["value"]
    if kind == "number":
        v = remote["value"]
        return float(v) if isinstance(v, str) else v  # NaN, Infinity, -0 come as text
    if kind == "array":
        return [value_of(v) for v in remote.get("value", [])]
    if kind == "object":
        return {k: value_of(v) for k, v in remote.get("value", [])}
    return remote.get("value")
