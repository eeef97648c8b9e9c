"""The kiosk against a passer-by and the page: every way out we know of, tried on the real program
with the demo. After each case: the visible top-level windows are the ones before it, the page
still answers, it is still the map, nothing was saved, and the program still runs.

One program start serves the whole table: a case that worked leaves the display as it found it,
and one that did not fails its own checks (and, most likely, the next case's too)."""

import os
import signal
import subprocess
import time
import unittest

from harness import Program, wait_until, share_display_and_demo

HERE = os.path.dirname(os.path.abspath(__file__))

# A link over the top left of the page, painted so xdotool can hit it. `%s` is its address.
LINK = ("(function(){var a=document.getElementById('hb-link')||document.createElement('a');"
        "a.id='hb-link';a.textContent='x';a.href=%s;%s"
        "a.style.cssText='position:fixed;left:0;top:0;width:320px;height:120px;display:block;"
        "z-index:2147483647;background:#fff';document.body.appendChild(a);return true;})()")
# A frame over the bottom left; `%s` is its address.
FRAME = ("(function(){var f=document.getElementById('hb-frame')||document.createElement('iframe');"
         "window.__hbFrameLoaded=0;f.onload=function(){window.__hbFrameLoaded=1;};f.id='hb-frame';f.src=%s;f.style.cssText='position:fixed;left:0;top:400px;width:400px;"
         "height:300px;border:0;z-index:2147483647;background:#fff';document.body.appendChild(f);"
         "return true;})()")


# What a page may ask the person at the screen for: a JS expression giving a promise, and the
# answers that mean "refused without a prompt". A prompt left open shows as no answer at all; a
# rejection's answer is "refused " and the error's name. The choosers of devices need a click.
PERMISSION_REQUESTS = [
    ("notifications", "Notification.requestPermission()", ("denied",)),
    ("geolocation", "new Promise(function(ok,no){navigator.geolocation.getCurrentPosition(ok,"
     "function(e){no({name:'code'+e.code});});})", ("refused code1",)),
    # The browser is given pretend devices, so this is refused, not merely found missing.
    ("camera and microphone", "navigator.mediaDevices.getUserMedia({video:true,audio:true})",
     ("refused NotAllowedError",)),
    ("clipboard read", "navigator.clipboard.readText()", ("refused NotAllowedError",)),
    ("MIDI with sysex", "navigator.requestMIDIAccess({sysex:true})",
     ("refused NotAllowedError", "refused SecurityError")),
    ("persistent storage", "navigator.storage.persist()", (False,)),
    ("screen capture", "navigator.mediaDevices.getDisplayMedia({video:true})", ("refused NotAllowedError",)),
    ("USB chooser", "navigator.usb.requestDevice({filters:[]})",
     ("refused NotFoundError", "refused SecurityError")),
    ("HID chooser", "navigator.hid.requestDevice({filters:[]}).then(function(d){return d.length;})",
     (0, "refused SecurityError")),
    ("serial chooser", "navigator.serial.requestPort()", ("refused NotFoundError", "refused SecurityError")),
    # Not offered on Linux without a flag; a chooser if it ever is.
    ("Bluetooth chooser", "navigator.bluetooth.requestDevice({acceptAllDevices:true})",
     ("refused TypeError", "refused NotFoundError", "refused SecurityError")),
    ("full screen", "document.documentElement.requestFullscreen()", ("refused TypeError",)),
    ("pointer lock", "document.body.requestPointerLock()", ("refused NotAllowedError",)),
    ("payment sheet", "new PaymentRequest([{supportedMethods:'https://pay.invalid/'}],{total:{label:'x',"
     "amount:{currency:'CNY',value:'1'}}}).show()", ("refused SecurityError",)),
    ("security key", "navigator.credentials.get({publicKey:{challenge:new Uint8Array(16)}})",
     ("refused NotAllowedError",)),
    ("colour picker", "(function(){var i=document.createElement('input');i.type='color';"
     "document.body.appendChild(i);try{i.showPicker();}finally{i.remove();}})()", ("refused NotAllowedError",)),
    ("share sheet", "navigator.share({url:location.href})", ("refused TypeError", "refused NotAllowedError")),
]


share_display_and_demo(globals())


def visible_windows():
    """The visible top-level windows (children of the root window that are mapped)."""
    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--maxdepth", "1", "--name", ""],
                         env=X.env(), capture_output=True, text=True).stdout
    return sorted(out.split())


def files_under(folder):
    return sorted(os.path.join(d, f) for d, _, names in os.walk(folder) for f in names)


class EscapeTable(unittest.TestCase):
    """One program for the whole table."""

    @classmethod
    def setUpClass(cls):
        DEMO.reset()
        cls.program = Program(X, DEMO)
        # The browser's downloads go to $HOME/Downloads: a home of the test's own to look into.
        cls.home = os.path.join(cls.program.root, "home")
        cls.downloads = os.path.join(cls.home, "Downloads")
        os.makedirs(cls.downloads)
        cls.program.extra_env["HOME"] = cls.home
        # Pretend camera and microphone, so that asking for them meets the refusal, not an empty
        # computer.
        chromium = os.path.join(cls.program.root, "chromium")
        with open(chromium, "w") as f:
            f.write('#!/bin/sh\nexec /usr/lib/chromium/chromium --use-fake-device-for-media-stream "$@"\n')
        os.chmod(chromium, 0o755)
        cls.program.extra_env["HALLBOARD_CHROMIUM"] = chromium
        cls.program.start()
        wait_until(lambda: cls.program.page_ready("大厅"), 60, what="the map")
        cls.map = cls.program.eval("location.href")
        cls.windows = visible_windows()
        cls.ratio = cls.program.eval("devicePixelRatio")
        cls.bounds = cls.program.eval("[outerWidth,outerHeight,screenX,screenY]")

    @classmethod
    def tearDownClass(cls):
        cls.program.cleanup()

    def setUp(self):
        self.assertEqual(visible_windows(), self.windows, "an earlier case left a window")
        # Every case starts with the pointer on the map and the page's own marks cleared.
        self.program.eval("(function(){['hb-link','hb-frame'].forEach(function(i){var e="
                          "document.getElementById(i);if(e)e.remove();});window.__hbMark=0;"
                          "window.onbeforeunload=null;return true;})()")
        X.xdotool("mousemove", 900, 300)

    def mark_clicks(self):
        # The page's own handler (bubble phase) counts the clicks that reached it: proof that the
        # browser delivered the input before the checks look for what it might have opened.
        self.program.eval("(function(){if(!window.__hbMarking){window.__hbMarking=1;"
                          "['click','auxclick','keydown'].forEach(function(t){document.addEventListener(t,"
                          "function(){window.__hbMark=(window.__hbMark||0)+1;});});}return true;})()")

    def wait_marked(self, what):
        wait_until(lambda: self.program.eval("window.__hbMark||0") > 0, 10, what=what + " to reach the page")

    def assert_held(self, logged=None):
        """Everything a case must leave as it was."""
        self.assertTrue(self.program.running(), "the program has gone")
        # The page answers (a modal dialog would block this), a few times, while any window the
        # case opened would come up.
        for _ in range(3):
            self.assertEqual(self.program.eval("1+1"), 2)
            self.assertEqual(visible_windows(), self.windows, "the visible windows changed")
            time.sleep(0.2)
        wait_until(lambda: self.program.page_ready("大厅"), 30, what="the map")
        self.assertEqual(self.program.eval("location.href"), self.map)
        self.assertEqual(self.program.eval("devicePixelRatio"), self.ratio, "the page was zoomed")
        self.assertFalse(self.program.state()["cover"])
        self.assertEqual(files_under(self.downloads), [])
        self.assertEqual([f for f in files_under(self.home) if f.endswith((".crdownload", ".json"))], [])
        if logged:
            # One line a minute at most: an earlier case may have written it.
            self.assertIn(logged, self.program.log_text())

    def back_on_the_map(self):
        try:
            return self.program.eval("location.href") == self.map and self.program.page_ready("大厅")
        except AssertionError:  # the page is between documents
            return False

    # ---- The mouse on a link ----

    def click_link(self, *click, href=None, extra=""):
        self.mark_clicks()
        self.program.eval(LINK % (repr(href or DEMO.cloud + "/demo/echo?via=link"), extra))
        X.xdotool("mousemove", 100, 60)
        X.xdotool(*click)
        self.wait_marked("the click")

    def test_middle_click_on_a_link(self):
        self.click_link("click", 2)
        self.assert_held()

    def test_ctrl_click_on_a_link(self):
        self.click_link("keydown", "ctrl", "click", 1, "keyup", "ctrl")
        self.assert_held()

    def test_shift_click_on_a_link(self):
        self.click_link("keydown", "shift", "click", 1, "keyup", "shift")
        self.assert_held()

    def test_link_to_a_new_window(self):
        self.click_link("click", 1, extra="a.target='_blank';")
        self.assert_held()

    def test_link_that_downloads(self):
        self.click_link("click", 1, extra="a.setAttribute('download','seats.json');")
        self.assert_held()

    def test_page_starts_a_download_itself(self):
        # No click the page script could cancel: the browser's own refusal holds.
        self.program.eval("(function(){var a=document.createElement('a');a.href='/demo/echo?dl=1';"
                          "a.download='x.json';a.dispatchEvent(new MouseEvent('click'));return true;})()")
        self.assert_held()

    def test_plain_click_on_a_link_to_another_site(self):
        # The gateway's port makes it another origin.
        self.click_link("click", 1, href=DEMO.gateway + "/demo/echo?via=other-site")
        self.assert_held(logged="已拦截页面打开其他网站 " + DEMO.gateway)

    def test_page_leads_to_another_site_itself(self):
        self.program.command("eval location.href=%r" % (DEMO.gateway + "/demo/echo?via=script"))
        self.assert_held(logged="已拦截页面打开其他网站")

    def test_addresses_of_the_computer_and_the_browser(self):
        # The browser refuses the page the first four itself; the last two come in and give way.
        for address in ("file:///etc/", "view-source:" + DEMO.cloud + "/", "chrome://settings/",
                        "chrome://downloads/", "about:blank", "data:text/html,<title>x</title>"):
            with self.subTest(address=address, by="a passer-by's click"):
                self.click_link("click", 1, href=address)
                self.assert_held()
            with self.subTest(address=address, by="the page"):
                self.program.eval("(function(){try{location.href=%r;}catch(e){}return true;})()" % address)
                # A document that needs no request (about:blank, data:) comes in and gives way.
                wait_until(self.back_on_the_map, 30, what="the map")
                self.assert_held(logged="已拦截页面打开其他网站" if address[:5] in ("about", "data:") else None)

    def test_buttons_of_the_crashed_page(self):
        # The browser's own page for a crashed tab has a reload button and a help link that would
        # open a browser window: a passer-by clicks all over it until the map is back.
        self.program.command("crash")
        wait_until(lambda: self.program.state()["cover"] or not self.program.page_ready("大厅"), 20,
                   what="the crash to show")
        for y in range(250, 500, 40):
            for x in range(440, 860, 60):
                X.xdotool("mousemove", x, y)
                X.xdotool("click", 1)
                X.xdotool("click", 2)
        X.xdotool("key", "Tab", "Return", "ctrl+Return")
        wait_until(lambda: self.program.page_ready("大厅"), 60, what="the map to come back")
        self.assert_held()

    # ---- Windows the page opens ----

    def test_window_open_from_a_click_handler(self):
        self.mark_clicks()
        self.program.eval(LINK % (repr("javascript:void 0"), "a.onclick=function(){window.open('/demo/echo?via=open');};"))
        X.xdotool("mousemove", 100, 60)
        X.xdotool("click", 1)
        self.wait_marked("the click")
        self.assert_held()

    def test_window_open_of_a_fresh_frame(self):
        # A frame's own window.open never saw the page's script: the browser's new page is
        # closed before it runs.
        self.program.eval("(function(){var f=document.createElement('iframe');document.body.appendChild(f);"
                          "f.contentWindow.open('/demo/echo?via=frame');f.remove();return true;})()")
        self.assert_held()

    # ---- Dialogs ----

    def test_dialogs_of_the_page(self):
        for call in ("alert(1)", "confirm('x')", "prompt('x')", "print()"):
            with self.subTest(call=call):
                self.program.eval("(function(){setTimeout(function(){%s;},0);return true;})()" % call)
                self.assert_held()

    def test_dialogs_of_a_fresh_frame(self):
        for call in ("alert(1)", "confirm('x')", "prompt('x')"):
            with self.subTest(call=call):
                self.program.eval("(function(){var f=document.createElement('iframe');"
                                  "document.body.appendChild(f);var w=f.contentWindow;setTimeout(function()"
                                  "{w.%s;f.remove();},0);return true;})()" % call)
                self.assert_held()

    def test_beforeunload_never_holds_a_reload(self):
        # The prompt needs a person's click first; F5 then reloads through the page's script.
        self.mark_clicks()
        self.program.eval("(function(){window.onbeforeunload=function(e){e.preventDefault();"
                          "e.returnValue='stay';return 'stay';};window.__hbOld=1;return true;})()")
        X.xdotool("click", 1)
        self.wait_marked("the click")
        X.xdotool("key", "F5")
        wait_until(lambda: self.program.eval("window.__hbOld||0") == 0, 30, what="the reload")
        self.assert_held(logged="页面的对话框已自动关闭 (beforeunload)")

    # ---- Permissions and the browser's own bubbles ----

    def ask(self, request, by_click):
        """Runs request as the page alone or in a passer-by's click handler; the page's answer."""
        run = ("window.__hbAsk='pending';try{Promise.resolve(%s).then(function(v){window.__hbAsk="
               "v===undefined?null:v;},function(e){window.__hbAsk='refused '+(e&&e.name);});}"
               "catch(e){window.__hbAsk='refused '+(e&&e.name);}" % request)
        if by_click:
            self.mark_clicks()
            self.program.eval(LINK % (repr("javascript:void 0"), "a.onclick=function(){%s};" % run))
            X.xdotool("mousemove", 100, 60)
            X.xdotool("click", 1)
            self.wait_marked("the click")
        else:
            self.program.eval("(function(){%s;return true;})()" % run)
        answer = wait_until(lambda: [v for v in [self.program.eval("window.__hbAsk")] if v != "pending"],
                            10, what="the page's answer")
        return answer[0]

    def test_what_the_page_asks_for_is_refused_without_a_prompt(self):
        for by_click in (False, True):
            for name, request, refused in PERMISSION_REQUESTS:
                with self.subTest(request=name, by_click=by_click):
                    answer = self.ask(request, by_click)
                    # Without a click the choosers refuse for want of one, which proves nothing.
                    if by_click or "SecurityError" not in str(answer):
                        self.assertIn(answer, refused)
                    self.assert_held()

    def test_page_neither_moves_nor_resizes_the_window(self):
        self.click_link("click", 1, href="javascript:void 0",
                        extra="a.onclick=function(){resizeTo(300,300);moveTo(400,300);resizeBy(-500,-200);};")
        self.assert_held()
        self.assertEqual(self.program.eval("[outerWidth,outerHeight,screenX,screenY]"), self.bounds)

    def test_colour_input_opens_no_chooser(self):
        self.mark_clicks()
        self.program.eval("(function(){var i=document.createElement('input');i.type='color';i.id='hb-link';"
                          "i.style.cssText='position:fixed;left:0;top:0;width:320px;height:120px;"
                          "z-index:2147483647';document.body.appendChild(i);return true;})()")
        X.xdotool("mousemove", 100, 60)
        X.xdotool("click", 1)
        self.wait_marked("the click")
        self.assert_held()
        self.program.eval("window.__hbMark=0")
        X.xdotool("key", "space")
        self.wait_marked("the key")
        self.assert_held()

    # ---- Drops from outside ----

    def drag_onto_the_page(self, *uris):
        """A real XDND drag from the drag source (a window of another program) onto the map."""
        events = os.path.join(self.program.root, "drag-events")
        with open(events, "w") as out:
            source = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "drag_source.py"),
                                       "1060", "600", *uris], env=X.env(), stdout=out,
                                      stderr=subprocess.DEVNULL)

        def said(word):
            with open(events) as f:
                return word in f.read().split()
        try:
            wait_until(lambda: said("ready"), 20, what="the drag source")
            # The page's own handler (bubble phase) counts what reached it.
            self.program.eval("(function(){window.__hbMark=0;if(!window.__hbDragMarking){window.__hbDragMarking=1;"
                              "['dragover','drop'].forEach(function(t){document.addEventListener(t,"
                              "function(){window.__hbMark=(window.__hbMark||0)+1;});});}return true;})()")
            X.xdotool("mousemove", 1160, 650)
            X.xdotool("mousedown", 1)
            # Past GTK's drag threshold, then on over the map until the page has seen the drag.
            for step in range(1, 6):
                X.xdotool("mousemove", 1160 - 10 * step, 650 - 10 * step)
            wait_until(lambda: said("begin"), 10, what="the drag to begin")
            moves = iter(range(1000))
            wait_until(lambda: X.xdotool("mousemove", 640 + next(moves) % 20, 360) or
                       self.program.eval("window.__hbMark||0") > 0, 20, interval=0.1,
                       what="the drag to reach the page")
            X.xdotool("mouseup", 1)
            wait_until(lambda: said("end"), 10, what="the drag to end")
            source.wait(10)
            # The page took nothing: a link the browser accepted would open, for a moment at
            # least, in a window of its own.
            self.assertTrue(said("failed"), "the drop was accepted")
        finally:
            if source.poll() is None:
                source.terminate()
                source.wait(10)

    def test_drops_from_outside_open_nothing(self):
        local = os.path.join(self.program.root, "dropped.html")
        with open(local, "w") as f:
            f.write("<title>dropped</title>")
        for name, uris in (("a file", ["file://" + local]),
                           ("a link of the cloud", [DEMO.cloud + "/demo/echo?via=drop"]),
                           ("a link of another site", [DEMO.gateway + "/demo/echo?via=drop"])):
            with self.subTest(drop=name):
                self.drag_onto_the_page(*uris)
                self.assert_held()

    def test_dragging_a_link_of_the_page_onto_the_page(self):
        self.program.eval(LINK % (repr(DEMO.cloud + "/demo/echo?via=drag"), ""))
        X.xdotool("mousemove", 100, 60)
        X.xdotool("mousedown", 1)
        for step in range(1, 20):
            X.xdotool("mousemove", 100 + 30 * step, 60 + 15 * step)
        X.xdotool("mouseup", 1)
        self.assert_held()

    # ---- Keys ----

    def test_browser_shortcuts(self):
        keys = ["shift+Escape", "ctrl+n", "ctrl+t", "ctrl+shift+n", "ctrl+o", "ctrl+s", "ctrl+p",
                "ctrl+f", "ctrl+h", "ctrl+j", "ctrl+u", "F12", "ctrl+shift+i", "ctrl+shift+j",
                "ctrl+shift+c", "ctrl+plus", "ctrl+minus", "ctrl+0", "F11", "alt+Left", "alt+Home",
                "ctrl+w", "ctrl+shift+Delete", "ctrl+shift+o", "ctrl+shift+b"]
        self.mark_clicks()
        X.xdotool("click", 1)  # the page has the keyboard
        for key in keys:
            with self.subTest(key=key):
                self.program.eval("window.__hbMark=0")
                X.xdotool("key", key)
                self.wait_marked(key)
                self.assert_held()

    # ---- History ----

    def test_back_never_leaves_the_map_for_a_page_we_did_not_choose(self):
        for how in ("history", "mouse", "keys"):
            with self.subTest(how=how):
                if how == "history":
                    self.program.command("eval history.back()")
                elif how == "mouse":
                    X.xdotool("click", 8)
                else:
                    X.xdotool("key", "alt+Left")
                self.assert_held()

    # ---- Frames ----

    def test_right_click_in_frames_opens_the_programs_menu(self):
        same = DEMO.cloud + "/demo/echo?frame=same"
        other = DEMO.cloud.replace("127.0.0.1", "localhost") + "/demo/echo?frame=other-site"
        for name, src in (("same origin", same), ("another site", other)):
            with self.subTest(frame=name):
                self.program.eval(FRAME % repr(src))
                wait_until(lambda: self.program.eval("window.__hbFrameLoaded"), 10, what="the frame")
                self.right_click_in_the_frame_opens_the_menu()

    def test_right_click_in_a_frame_inside_a_frame_opens_the_programs_menu(self):
        # A frame of another site inside a frame of the cloud's own, filling it: its messages go up
        # through the frame between.
        outer = DEMO.cloud + "/demo/echo?frame=outer"
        inner = DEMO.cloud.replace("127.0.0.1", "localhost") + "/demo/echo?frame=inner"
        self.program.eval(FRAME % repr(outer))
        wait_until(lambda: self.program.eval("window.__hbFrameLoaded"), 10, what="the outer frame")
        self.program.eval(
            "(function(){var d=document.getElementById('hb-frame').contentDocument;"
            "var i=d.createElement('iframe');window.__hbInnerLoaded=0;"
            "i.onload=function(){window.__hbInnerLoaded=1;};i.src=%s;"
            "i.style.cssText='position:fixed;left:0;top:0;width:100%%;height:100%%;border:0';"
            "d.body.appendChild(i);return true;})()" % repr(inner))
        wait_until(lambda: self.program.eval("window.__hbInnerLoaded"), 10, what="the inner frame")
        self.right_click_in_the_frame_opens_the_menu()

    def right_click_in_the_frame_opens_the_menu(self):
        X.xdotool("mousemove", 200, 550)
        X.xdotool("click", 3)
        wait_until(lambda: self.program.state()["menuVisible"], 10, what="the program's menu")
        X.xdotool("key", "Escape")
        wait_until(lambda: not self.program.state()["menuVisible"], 10, what="the menu to close")
        self.program.eval("document.getElementById('hb-frame').remove()")
        self.assert_held()


class IdleReturn(unittest.TestCase):
    def test_another_page_of_the_cloud_left_alone_gives_way_to_the_map(self):
        DEMO.reset()
        program = Program(X, DEMO)
        # Three minutes become five seconds.
        program.extra_env["HALLBOARD_TEST_TIME_DIVISOR"] = "36"
        try:
            program.start()
            wait_until(lambda: program.page_ready("大厅"), 60, what="the map")
            home = program.eval("location.href")
            # A page of the cloud's own: allowed, shown, and left alone.
            program.command("eval location.href='/demo/echo?via=idle'")
            wait_until(lambda: "via=idle" in program.eval("location.href"), 20, what="the other page")
            wait_until(lambda: program.eval("location.href") == home, 30, what="the return to the map")
            wait_until(lambda: program.page_ready("大厅"), 30, what="the map")
            self.assertIn("回到机位图", program.log_text())
        finally:
            program.cleanup()


def window_names():
    """The names of the visible top-level windows."""
    names = []
    for w in visible_windows():
        out = subprocess.run(["xdotool", "getwindowname", w], env=X.env(), capture_output=True, text=True)
        names.append(out.stdout.strip())
    return names


def foreign_windows():
    """Windows of the browser that are not the display's: developer tools, a full browser window."""
    return [n for n in window_names() if "DevTools" in n or n.endswith("Chromium")]


class StalledStart(unittest.TestCase):
    def test_keys_while_the_program_stalls_at_start_open_nothing(self):
        DEMO.reset()
        program = Program(X, DEMO)
        before = visible_windows()  # the root window alone
        try:
            # A first start leaves whatever an earlier start could keep.
            program.start()
            wait_until(lambda: program.page_ready("大厅"), 60, what="the map")
            windows = visible_windows()
            program.stop()
            wait_until(lambda: visible_windows() == before, 20, what="the windows to go")
            # The gateway holds its answer: the map cannot load until the test lets it.
            DEMO.fault(entry="hang")
            # The program stalls the moment it starts the browser, before it could say a word to
            # it: the browser's wrapper stops it.
            # Only the first start stalls: should the program start the browser again after the
            # stall, nothing would wake it a second time.
            chromium = os.path.join(program.root, "chromium")
            stalled = os.path.join(program.root, "stalled")
            with open(chromium, "w") as f:
                f.write('#!/bin/sh\n[ -e "%s" ] || { : > "%s"; kill -STOP $PPID; }\n'
                        'exec /usr/lib/chromium/chromium "$@"\n' % (stalled, stalled))
            os.chmod(chromium, 0o755)
            program.extra_env["HALLBOARD_CHROMIUM"] = chromium
            program.start(wait=False)

            def stopped():
                with open("/proc/%d/stat" % program.proc.pid) as f:
                    return f.read().rsplit(")", 1)[1].split()[0] == "T"

            def browser():
                try:
                    with open("/proc/%d/task/%d/children" % (program.proc.pid, program.proc.pid)) as f:
                        return [int(p) for p in f.read().split()]
                except OSError:
                    return []
            try:
                wait_until(stopped, 20, interval=0.02, what="the program to stall")
                pid = browser()[0]

                def browser_window():
                    # The one with a name: the browser keeps a nameless window of its own as well.
                    out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", "."],
                                         env=X.env(), capture_output=True, text=True).stdout.split()
                    return out[0] if out else None
                # The browser's window gets the keyboard (nothing else sees to that with no window
                # manager), and with it the keys that open windows.
                X.xdotool("windowfocus", "--sync", wait_until(browser_window, 30, what="the browser's window"))
                X.xdotool("mousemove", 640, 360)
                for key in ("F12", "ctrl+n", "ctrl+s", "ctrl+shift+i", "ctrl+o"):
                    X.xdotool("key", key)
                X.xdotool("click", 3)
                X.xdotool("key", "Escape")
                # Whether the keys open anything is the browser's race: once the dark start page's
                # script runs it swallows them. When they won it, the windows are up in a moment
                # (and must go below); when they lost, there is nothing to wait for, and the checks
                # below hold all the same.
                try:
                    wait_until(foreign_windows, 5, interval=0.1, what="a window the keys opened")
                except AssertionError:
                    pass
            finally:
                program.proc.send_signal(signal.SIGCONT)
            # What the keys opened goes as soon as the program has its page, long before the map.
            wait_until(lambda: not foreign_windows(), 30, interval=0.05, what="the opened windows to go")
            # The gateway still holds its answer, so the cover must still be up; the program's test
            # hook may take a moment to answer after the stall.
            state = wait_until(program.state, 30, what="the program to answer")
            self.assertTrue(state["cover"], "the map showed before the windows went")
            DEMO.fault(entry="ok")
            wait_until(lambda: program.page_ready("大厅"), 60, what="the map")
            for _ in range(3):
                self.assertEqual(len(visible_windows()), len(windows), "a window opened during the stall")
                time.sleep(0.2)
        finally:
            DEMO.reset()
            program.cleanup()


if __name__ == "__main__":
    unittest.main()
