"""window.external in the real program: pages of the configured server call its
members through the channel of the GTK widgetset and report what came back.

Most tests drive server/pages/bridge.html, which evaluates script that the test posts
and reports the value or the error (see the page). The program opens it as its login
page."""

import base64
import json
import os
import unittest
import urllib.error
import urllib.request

import harness
from harness import Geometry, complete_ini, poll

PAGES = "/tavreq/test/pages/"
MARKER = "lumetra:window.external"  # prompt() message of the channel
TOLERANCE = 2  # the WM rounds the frame around the client by a pixel or two
# The primary screen of the test display: the two properties answer crosswise.
SCREEN_W, SCREEN_H = harness.SCREEN

_no_proxy = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def status(name, code):
    return f"{name} (0x{code:08X})"


BADPARAMCOUNT = status("DISP_E_BADPARAMCOUNT", 0x8002000E)
UNKNOWNNAME = status("DISP_E_UNKNOWNNAME", 0x80020006)
MEMBERNOTFOUND = status("DISP_E_MEMBERNOTFOUND", 0x80020003)


def cast(src, dst):
    return f"Could not convert variant of type ({src}) into type ({dst})"


def overflow(src, dst):
    return f"Overflow while converting variant of type ({src}) into type ({dst})"


def signed(code):
    return code - (1 << 32) if code >= 1 << 31 else code


class Page:
    """The command page in a running program: run() posts script and returns the
    page's report of it."""

    def __init__(self, test, prog):
        self.test, self.prog, self.server = test, prog, test.server
        self.next_id = 0
        self.seen = 0

    def _get(self, path, timeout):
        with _no_proxy.open(self.server.url(path), timeout=timeout + 30) as r:
            return json.loads(r.read().decode("utf-8"))

    def post(self, code):
        """Sends script without waiting for its result; returns its id."""
        self.next_id += 1
        self.server.report({"name": "bridge-cmd", "id": self.next_id, "code": code})
        return self.next_id

    def result(self, cmd_id, timeout=harness.EVENT_TIMEOUT):
        def found():
            try:
                hits = self._get("/_test/reports?wait=bridge-result&timeout=1&since=%d" % self.seen, 1)
            except urllib.error.HTTPError as e:
                if e.code != 404:
                    raise
                hits = []
            mine = [h for h in hits if h["json"].get("id") == cmd_id]
            if not self.prog.running():
                return "ended"
            return mine[0] if mine else None
        hit = poll(found, timeout, 0)
        if not hit or hit == "ended":
            raise AssertionError(f"no result for command {cmd_id}\n" + self.prog.describe())
        self.seen = max(self.seen, hit["seq"])
        return hit["json"]

    def run(self, code, timeout=harness.EVENT_TIMEOUT):
        return self.result(self.post(code), timeout)

    def value(self, code):
        """The value of script that must not fail."""
        r = self.run(code)
        self.test.assertTrue(r["ok"], f"{code}: {r}")
        return r["value"]

    def error(self, code):
        """The message of script that must fail with an Error."""
        r = self.run(code)
        self.test.assertFalse(r["ok"], f"{code} did not fail: {r}")
        self.test.assertTrue(r["isError"], f"{code} threw something else than an Error: {r}")
        return r["message"]


class BridgeTest(harness.ProgramTestCase):

    # -- helpers ----------------------------------------------------------------

    def start_page(self, page="bridge.html", name=None):
        prog = self.program(name)
        prog.write_ini(complete_ini(self.server.port, LoginPageURI=PAGES + page))
        prog.start()
        win = prog.main_window()
        return prog, win

    def command_page(self, name=None):
        prog, win = self.start_page(name=name)
        ready = self.server.wait_report("bridge-ready")
        self.assertEqual(ready[0]["json"]["type"], "object", prog.describe())
        return prog, win, Page(self, prog)

    def assertGeometry(self, prog, win, want, what):
        """Outer geometry near `want`, whose None fields are not compared; polled
        because the WM may still be placing the window."""
        seen = []

        def near():
            seen.append(prog.geometry(win))
            return all(w is None or abs(g - w) <= TOLERANCE for g, w in zip(seen[-1], want))
        poll(near, 15, 0.1)
        self.assertTrue(near(), f"{what}: outer geometry {tuple(seen[-1])}, want {tuple(want)} "
                                f"±{TOLERANCE}\n" + prog.describe())

    def is_maximised(self, win):
        state = self.display.run(["xprop", "-id", win, "_NET_WM_STATE"], check=False)
        return "_NET_WM_STATE_MAXIMIZED_VERT" in state and "_NET_WM_STATE_MAXIMIZED_HORZ" in state

    # -- tests --------------------------------------------------------------------

    def test_names_properties_and_dispatch_failures(self):
        prog, win, page = self.command_page()
        app_path = os.path.realpath(prog.folder) + "/"
        values = [
            ("external.GetAppPath()", app_path),
            ("window.external.getapppath()", app_path),  # any letter case
            ("external.ScreenWidth", SCREEN_H),
            ("external.screenwidth", SCREEN_H),
            ("external.ScreenHeight", SCREEN_W),
            ("typeof external.ScreenWidth", "number"),
            ("'SCREENHEIGHT' in external && !('NoSuchMember' in external)", True),
            ("external.GetAppPath === external.getAppPath", True),
        ]
        for code, want in values:
            with self.subTest(code):
                self.assertEqual(page.value(code), want)

        failures = [
            ("external.ChangeWindowSize(800)", BADPARAMCOUNT, 0x8002000E),
            ("external.GetAppPath(1)", BADPARAMCOUNT, 0x8002000E),
            ("external.NoSuchMember()", UNKNOWNNAME, 0x80020006),
            ("external.NoSuchMember", UNKNOWNNAME, 0x80020006),
            ("external.ScreenWidth = 5", MEMBERNOTFOUND, 0x80020003),
            ("external.GetAppPath = 5", MEMBERNOTFOUND, 0x80020003),
        ]
        for code, message, number in failures:
            with self.subTest(code):
                r = page.run(code)
                self.assertEqual((r["ok"], r["isError"], r["message"], r["number"]),
                                 (False, True, message, signed(number)), r)
        # The failed assignment changed nothing, and the object cannot be swapped.
        self.assertEqual(page.value("external.ScreenWidth"), SCREEN_H)
        self.assertEqual(page.value("var before = window.external; window.external = {}; "
                                    "delete window.external; window.external === before"), True)
        self.assertTrue(prog.responds(win), prog.describe())

    def test_argument_conversions(self):
        prog, win, page = self.command_page()
        page.value("external.MoveWindow('12', 0)")
        self.assertGeometry(prog, win, Geometry(12, 0, None, None), "MoveWindow('12', 0)")

        failures = [
            ("external.MoveWindow(null, 0)", cast("Null", "Integer")),
            ("external.MoveWindow('abc', 0)", cast("OleStr", "Boolean")),
            ("external.MoveWindow(1e10, 0)", overflow("Double", "Integer")),
            ("external.MoveWindow(-1e300, 0)", overflow("Double", "Integer")),
            ("external.MoveWindow(NaN, 0)", overflow("Double", "Integer")),
            ("external.MoveWindow(Infinity, 0)", overflow("Double", "Integer")),
            ("external.MoveWindow(-Infinity, 0)", overflow("Double", "Integer")),
            ("external.MoveWindow('99999999999', 0)", overflow("OleStr", "Integer")),
            # An object stands for its text; one without a usable text cannot convert.
            ("external.MoveWindow({toString: function () { throw new Error('no'); }}, 0)",
             cast("Dispatch", "Integer")),
            ("var a = []; for (var i = 0; i < 300000; i++) a = [a, 1]; external.MoveWindow(a, 0)",
             cast("Dispatch", "Integer")),
            ("external.MoveWindow(' 12\\ud800', 0)", cast("OleStr", "Boolean")),
            ("external.MessageBox(null)", cast("Null", "String")),
            ("external.Navigate(null)", cast("Null", "OleStr")),
            # The width converts and takes effect before the height fails.
            ("external.ChangeWindowSize(500, null)", cast("Null", "Integer")),
        ]
        for code, message in failures:
            with self.subTest(code):
                self.assertEqual(page.error(code), message)
        # None of the failed moves moved the window.
        self.assertGeometry(prog, win, Geometry(12, 0, 500, None), "after the failed calls")

        # Halves round to the even neighbour; a megabyte of blanks still reads as 40;
        # an object converts through its text.
        page.value("external.MoveWindow(10.5, 11.5)")
        self.assertGeometry(prog, win, Geometry(10, 12, None, None), "MoveWindow(10.5, 11.5)")
        page.value("external.MoveWindow(' '.repeat(1 << 20) + '40', {toString: function () { return '30'; }})")
        self.assertGeometry(prog, win, Geometry(40, 30, None, None), "a megabyte of text and an object")
        page.value("external.MoveWindow(undefined, true)")  # nothing is 0, true is -1
        self.assertGeometry(prog, win, Geometry(0, None, None, None), "MoveWindow(undefined, true)")
        self.assertTrue(prog.responds(win), prog.describe())

    def test_config_round_trips(self):
        prog, win, page = self.command_page()
        ini = prog.folder / "bridge-test.ini"
        value = "中文值，含逗号,与等号="

        def save(items, flag):
            page.value(f"external.SaveConfig('bridge-test.ini', {json.dumps(items)}, {flag})")

        def load(flag, name="'bridge-test.ini'"):
            return page.value(f"external.LoadConfig({name}, {flag})")

        # 1 encodes and decodes; 0 does neither; a script's true (-1) decodes but does not encode.
        save(f"节,键={value}#", "1")
        self.assertIn(b"=" + base64.b64encode(value.encode("gbk")), ini.read_bytes())
        self.assertEqual(load("1"), f"#节,键={value}")
        self.assertEqual(load("true"), f"#节,键={value}")
        self.assertEqual(load("0"), "#节,键=" + base64.b64encode(value.encode("gbk")).decode())

        ini.unlink()
        save(f"plain,k={value}#", "true")
        self.assertIn(("k=" + value).encode("gbk"), ini.read_bytes())
        self.assertEqual(load("0"), f"#plain,k={value}")

        # Characters the code page cannot hold arrive as "?"; a lone surrogate too.
        ini.unlink()
        save("s,k=a\ud800b\u0e01c\U0001F600d#", "0")
        self.assertEqual(load("0"), "#s,k=a?b?c?d")

        self.assertIn(f"#general,LoginPageURI={PAGES}bridge.html", load("1", "'Corvane.ini'"))
        self.assertEqual(load("1", "'no-such-file.ini'"), "")
        self.assertEqual(page.error("external.LoadConfig(null, 0)"), cast("Null", "String"))
        self.assertEqual(page.error("external.SaveConfig('x.ini', 'a,b=c#', 'abc')"), cast("OleStr", "Boolean"))
        self.assertFalse((prog.folder / "x.ini").exists())

    def test_window_resize(self):
        prog, win, page = self.command_page()
        centred = Geometry((SCREEN_W - 800) // 2, (SCREEN_H - 600) // 2, 800, 600)
        steps = [
            ("000010", False, centred),
            ("130000", True, Geometry(0, 0, SCREEN_W, SCREEN_H)),
            ("030010", False, centred),  # sizeable, normal, centred
        ]
        for state, maximised, geometry in steps:
            with self.subTest(state):
                page.value(f"external.WindowResize(800, 600, '{state}')")
                self.assertGeometry(prog, win, geometry, "WindowResize " + state)
                self.assertEqual(self.is_maximised(win), maximised, prog.describe())

        # Position 1 takes effect, then the missing position 2 fails.
        self.assertEqual(page.error("external.WindowResize(800, 600, '1')"), "'' is not a valid integer value")
        self.assertTrue(poll(lambda: self.is_maximised(win), 15, 0.1), prog.describe())
        self.assertTrue(prog.responds(win), prog.describe())

    def test_window_resize_maximises_a_dialog_border_window(self):
        # A dialog border is a fixed size, which must not keep the window from maximising.
        prog, win, page = self.command_page()
        self.assertEqual(page.error("external.WindowResize(800, 600, '1')"), "'' is not a valid integer value")
        self.assertTrue(poll(lambda: self.is_maximised(win), 15, 0.1), prog.describe())

    def test_message_box_navigate_and_the_rest(self):
        prog, win, page = self.command_page()
        # The call waits in its modal box; the program keeps answering meanwhile.
        cmd = page.post("external.MessageBox('你好 && 再见')")
        box = prog.wait_event({"event": "messagebox"})
        self.assertIn("你好", box["text"])
        self.assertTrue(prog.responds(win), prog.describe())
        prog.press_return_on(box["caption"])
        self.assertEqual(page.result(cmd)["type"], "undefined")

        for code in ("external.SetCloseHandler('onClose')", "external.SetCloseHandler('')",
                     "external.ClearUrlHistory()", "external.ClearIECache()",
                     "external.ChangeWindowSize(700, 500)"):
            with self.subTest(code):
                self.assertEqual(page.run(code), {"name": "bridge-result", "id": page.next_id, "ok": True,
                                                  "type": "undefined", "value": None})
        self.assertGeometry(prog, win, Geometry(None, None, 700, 500), "ChangeWindowSize(700, 500)")

        target = self.server.url(PAGES + "bridge.html?again")
        page.post(f"external.Navigate({json.dumps(target)})")
        prog.wait_event(lambda e: e.get("event") == "loaded" and e.get("uri") == target)
        self.assertTrue(poll(lambda: len(self.server.wait_report("bridge-ready")) >= 2, harness.EVENT_TIMEOUT, 0.1))
        self.assertEqual(page.value("location.search + ' ' + typeof external.GetAppPath()"), "?again string")

    def test_message_box_while_a_frame_completes(self):
        # The frame's completion is handled inside the box's loop, while the page waits
        # for the call: the program must not ask that page anything then.
        prog, win = self.start_page("bridge-modal.html")
        box = prog.wait_event({"event": "messagebox", "text": "框架已载入"})
        self.server.wait_report("bridge-frame")
        prog.press_return_on(box["caption"])
        self.server.wait_report("bridge-modal-done")
        self.assertTrue(prog.responds(win), prog.describe())

    def test_application_exit_ends_program_with_code_0(self):
        prog, win, page = self.command_page()
        page.post("external.ApplicationExit()")
        self.assertEqual(prog.wait_exit(), 0)

    def test_other_origins_and_forged_calls_are_refused(self):
        prog, win = self.start_page("bridge-frames.html")
        reports = poll(lambda: len(self.server.wait_report("bridge-frame")) >= 2
                       and self.server.wait_report("bridge-frame"), harness.EVENT_TIMEOUT, 0.1)
        self.assertTrue(reports, "two frames did not report\n" + prog.describe())
        frames = {r["json"]["where"]: r["json"] for r in reports}

        same = frames["same"]
        self.assertEqual((same["type"], same["has"], same["appPath"]),
                         ("object", True, os.path.realpath(prog.folder) + "/"))
        cross = frames["cross"]
        self.assertEqual(cross["origin"], f"http://localhost:{self.server.port}")
        self.assertEqual((cross["type"], cross["has"], cross["parent"]), ("undefined", False, "denied"))
        # Calls made on the channel by page script, with a made-up secret, are refused
        # and nothing runs.
        for where, frame in frames.items():
            with self.subTest(where):
                answer = json.loads(frame["forged"])
                self.assertEqual(answer["ok"], 0)
                self.assertIn("refused", answer["message"])
        self.assertTrue(prog.running(), prog.describe())
        self.assertTrue(prog.responds(win), prog.describe())

    def test_page_script_cannot_reach_the_secret(self):
        prog, win, page = self.command_page()
        # Whatever page script replaces afterwards, calls keep working and the hooks
        # never see a payload; no function the page can reach shows the secret.
        code = """
            var seen = [], saved = [window.prompt, JSON.stringify, JSON.parse, Reflect.apply,
                                    String.prototype.toLowerCase];
            window.prompt = function () { seen.push('prompt'); return null; };
            JSON.stringify = function () { seen.push('stringify'); return '{}'; };
            JSON.parse = function () { seen.push('parse'); return {}; };
            Reflect.apply = function () { seen.push('apply'); };
            String.prototype.toLowerCase = function () { seen.push('lower'); return 'x'; };
            Object.prototype.toJSON = function () { seen.push('toJSON'); return this; };
            Object.defineProperty(Array.prototype, '0', {set: function (v) { seen.push('index'); },
                                                         configurable: true});
            var result, texts;
            try {
              result = [external.GetAppPath(), external.screenWidth];
              texts = external.GetAppPath.toString() + external.MoveWindow.toString();
            } finally {
              window.prompt = saved[0]; JSON.stringify = saved[1]; JSON.parse = saved[2];
              Reflect.apply = saved[3]; String.prototype.toLowerCase = saved[4];
              delete Object.prototype.toJSON; delete Array.prototype[0];
            }
            [typeof result[0], result[1], seen.join(), /[0-9a-f]{32}/.test(texts)].join('|')
        """
        self.assertEqual(page.value(code), f"string|{SCREEN_H}||false")
        # A payload that is not the channel's is refused too.
        for payload in ("not json", "{}", '{"token": 1}', "[" * 100000):
            with self.subTest(payload[:20]):
                answer = json.loads(page.value(f"prompt({json.dumps(MARKER)}, {json.dumps(payload)})"))
                self.assertEqual(answer["ok"], 0)
        self.assertTrue(prog.running(), prog.describe())


if __name__ == "__main__":
    unittest.main()
