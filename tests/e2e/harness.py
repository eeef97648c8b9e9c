"""What the end-to-end tests drive: an X server, the demo gateway and cloud, the real hallBoard
program with real Chromium, the pointer and keyboard, screenshots. Standard library only; the
screen is read through ImageMagick's `import`, input goes through xdotool."""

import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.request

BUILD = os.environ.get("HB_E2E_BUILD", "")
SCREENS = os.environ.get("HB_E2E_SCREENS", "")

# True in every slot only when all of the program's document scripts ran in the page: the page
# script's cursor switch, the bridge binding and its postMessage, the page script's selection
# guard and the drag-and-reload script's drag guard (both cancel their events).
SCRIPTS_RAN = (
    "(function(){var d=document;function cancelled(t){var e=new Event(t,{bubbles:true,"
    "cancelable:true});d.body.dispatchEvent(e);return e.defaultPrevented;}"
    "return [typeof window.__hbHideCursor==='boolean',typeof window.__hbHostPost==='function',"
    "!!(window.chrome&&window.chrome.webview&&window.chrome.webview.postMessage),"
    "cancelled('selectstart'),cancelled('dragstart')];})()")


def wait_until(predicate, timeout, interval=0.2, what="condition"):
    """Polls predicate until it returns something true; returns it, or raises after timeout."""
    end = time.monotonic() + timeout
    last = None
    while time.monotonic() < end:
        try:
            last = predicate()
            if last:
                return last
        except (OSError, ValueError) as e:
            last = e
        time.sleep(interval)
    raise AssertionError("timed out after %.0f s waiting for %s (last: %r)" % (timeout, what, last))


def end_process(pid, what="the program"):
    """Asks pid to end and waits for it; a process already gone, or one that will not go, is left."""
    if not pid:
        return
    try:
        os.kill(pid, signal.SIGTERM)
        wait_until(lambda: not os.path.exists("/proc/%d" % pid), 15, what=what + " to end")
    except (OSError, AssertionError):
        pass


class Xvfb:
    """A private X server; 1280x720 like a small display computer."""

    def __init__(self, width=1280, height=720):
        self.width, self.height = width, height
        self.number = next(n for n in range(91, 200) if not os.path.exists("/tmp/.X11-unix/X%d" % n)
                           and not os.path.exists("/tmp/.X%d-lock" % n))
        self.display = ":%d" % self.number
        self.proc = subprocess.Popen(
            ["Xvfb", self.display, "-screen", "0", "%dx%dx24" % (width, height), "-nolisten", "tcp"],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until(lambda: os.path.exists("/tmp/.X11-unix/X%d" % self.number), 10, what="Xvfb")

    def stop(self):
        self.proc.terminate()
        self.proc.wait(10)

    def env(self):
        return dict(os.environ, DISPLAY=self.display)

    def xdotool(self, *args):
        subprocess.run(["xdotool", *map(str, args)], env=self.env(), check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    def screenshot(self, name=None):
        """The whole screen as an Image; saved as PNG under the screens folder when named."""
        ppm = subprocess.run(["import", "-display", self.display, "-window", "root", "-depth", "8", "ppm:-"],
                             check=True, capture_output=True).stdout
        image = Image(ppm)
        if name and SCREENS:
            os.makedirs(SCREENS, exist_ok=True)
            subprocess.run(["convert", "ppm:-", os.path.join(SCREENS, name + ".png")], input=ppm,
                           check=True)
        return image


class Image:
    """A binary PPM (P6) screenshot."""

    def __init__(self, ppm):
        parts = []
        pos = 0
        while len(parts) < 4:  # magic, width, height, maxval, with comments skipped
            while ppm[pos:pos + 1].isspace():
                pos += 1
            if ppm[pos:pos + 1] == b"#":
                pos = ppm.index(b"\n", pos) + 1
                continue
            end = pos
            while not ppm[end:end + 1].isspace():
                end += 1
            parts.append(ppm[pos:end])
            pos = end
        self.width, self.height = int(parts[1]), int(parts[2])
        self.data = ppm[pos + 1:]

    def pixel(self, x, y):
        i = (y * self.width + x) * 3
        return tuple(self.data[i:i + 3])

    def share(self, colour, tolerance=6, step=8):
        """The part of the screen (sampled every step pixels) within tolerance of colour."""
        hits = total = 0
        for y in range(0, self.height, step):
            for x in range(0, self.width, step):
                p = self.pixel(x, y)
                total += 1
                if all(abs(a - b) <= tolerance for a, b in zip(p, colour)):
                    hits += 1
        return hits / total


def rgb(hex_text):
    h = hex_text.lstrip("#")
    return tuple(int(h[i:i + 2], 16) for i in (0, 2, 4))


class Demo:
    """hallboard-demo on loopback, with its fault switches and counters."""

    def __init__(self, *extra):
        self.proc = subprocess.Popen([os.path.join(BUILD, "tools/demo/hallboard-demo"), *extra],
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        lines = {}
        for line in self.proc.stdout:
            line = line.strip()
            if line == "ready":
                break
            name, _, addr = line.partition(" ")
            lines[name] = addr
        self.gateway_port = int(lines["gateway"].rsplit(":", 1)[1])
        self.cloud_port = int(lines["cloud"].rsplit(":", 1)[1])
        self.gateway = "http://127.0.0.1:%d" % self.gateway_port
        self.cloud = "http://127.0.0.1:%d" % self.cloud_port

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        try:
            self.proc.wait(10)
        except subprocess.TimeoutExpired:
            self.proc.kill()

    def _call(self, url, body=None):
        data = None if body is None else json.dumps(body).encode()
        req = urllib.request.Request(url, data=data, method="GET" if body is None else "POST")
        with urllib.request.urlopen(req, timeout=10) as r:
            return json.loads(r.read().decode() or "null")

    def _either(self, path, body):
        # The switches are shared by both servers, and one of them may be the one switched off.
        try:
            return self._call(self.cloud + path, body)
        except OSError:
            return self._call(self.gateway + path, body)

    def reports(self):
        """The demo page's timing reports, oldest first."""
        return self._call(self.cloud + "/demo/reports")

    def fault(self, **switches):
        self._either("/demo/fault", switches)

    def reset(self):
        self._either("/demo/fault", {"reset": True})
        for base in (self.gateway, self.cloud):
            self._call(base + "/demo/stats/reset", {})

    def reset_stats(self, server):
        self._call((self.gateway if server == "gateway" else self.cloud) + "/demo/stats/reset", {})

    def stats(self, server):
        return self._call((self.gateway if server == "gateway" else self.cloud) + "/demo/stats")

    def release(self, **body):
        return self._call(self.gateway + "/demo/release", body)


class Program:
    """The installed program: a folder holding hallBoard and its hallBoard.ini, its own per-user
    folder and runtime folder, running on the test's X server."""

    def __init__(self, x, demo, hide_cursor=1, map_want="", folder=None, program=None, install=None):
        self.x = x
        self.root = folder or tempfile.mkdtemp(prefix="hb-e2e-")
        # The program's folder: blanks and CJK in the path on purpose, unless a test names the
        # folder where a package put the program.
        self.install = install or os.path.join(self.root, "安装 目录")
        self.appdata = os.path.join(self.root, "appdata")
        self.runtime = os.path.join(self.root, "run")
        for d in (self.install, self.appdata, self.runtime):
            os.makedirs(d, exist_ok=True)
        os.chmod(self.runtime, 0o700)
        self.exe = os.path.join(self.install, "hallBoard")
        if not os.path.exists(self.exe):
            # The build's program, or another one named (a release's, as a store installs it).
            shutil.copy2(program or os.path.join(BUILD, "src/linux/app/hallBoard"), self.exe)
        with open(os.path.join(self.install, "hallBoard.ini"), "w", encoding="utf-8") as f:
            f.write("[Gateway]\nAddress=127.0.0.1\nPort=%d\n[Display]\nMap=%s\nMonitor=1\n"
                    "HideCursor=%d\n[Advanced]\nServerUrl=\nNetBarId=\n"
                    % (demo.gateway_port, map_want, hide_cursor))
        self.proc = None
        self.extra_env = {}
        self.stderr_path = None  # where the program's standard error goes (default: nowhere)

    def env(self):
        return dict(self.x.env(), LOCALAPPDATA=self.appdata, XDG_RUNTIME_DIR=self.runtime,
                    HALLBOARD_TEST_HOOKS="1", **self.extra_env)

    def start(self, wait=True):
        err = open(self.stderr_path, "ab") if self.stderr_path else subprocess.DEVNULL
        self.proc = subprocess.Popen([self.exe], env=self.env(), cwd=self.root,
                                     stdout=subprocess.DEVNULL, stderr=err)
        if self.stderr_path:
            err.close()
        if wait:
            wait_until(lambda: self.state() is not None, 20, what="the program's command socket")
        return self

    def command(self, text, timeout=10):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(timeout)
        try:
            s.connect(os.path.join(self.runtime, "hallBoard.sock"))
            s.sendall(text.encode() + b"\n")
            data = b""
            while b"\n" not in data:
                chunk = s.recv(65536)
                if not chunk:
                    break
                data += chunk
            return data.decode().split("\n", 1)[0]
        finally:
            s.close()

    def state(self):
        try:
            return json.loads(self.command("state"))
        except (OSError, ValueError):
            return None

    def eval(self, expression):
        answer = self.command("eval " + expression)
        if answer.startswith("error:"):
            raise AssertionError(answer)
        return json.loads(answer)

    def page_ready(self, map_name=None):
        """True once the demo page has loaded everything and the cover is gone."""
        st = self.state()
        if not st or st["cover"]:
            return False
        title = self.eval("document.title")
        return title.endswith("- ready") and (map_name is None or ("- %s -" % map_name) in title)

    def log_text(self):
        out = ""
        for folder in (os.path.join(self.install, "logs"), os.path.join(self.appdata, "hallBoard", "logs")):
            if os.path.isdir(folder):
                for name in sorted(os.listdir(folder)):
                    with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                        out += f.read()
        return out

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def stop(self):
        if self.running():
            self.proc.terminate()
            try:
                self.proc.wait(15)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()

    def cleanup(self):
        self.stop()
        shutil.rmtree(self.root, ignore_errors=True)


def share_display_and_demo(module, *screen):
    """Gives a test module (its globals()) one Xvfb, of the `screen` size when given, and one demo
    for all its tests, as its X and DEMO: started before the first test, stopped after the last."""
    def setUpModule():
        module["X"] = Xvfb(*screen)
        module["DEMO"] = Demo()

    def tearDownModule():
        module["DEMO"].stop()
        module["X"].stop()

    module.update(X=None, DEMO=None, setUpModule=setUpModule, tearDownModule=tearDownModule)

