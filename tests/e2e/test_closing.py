"""Closing the main window: the page's close handler decides, a close that goes
ahead clears the URL history and ends the program.

Each test opens server/pages/close.html as the login page; the test puts its close
handler on that page as script (see the page). Handlers call reportNow(), whose
synchronous request has reached the server before the handler goes on."""

import json
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request

import harness
from harness import complete_ini, poll

PAGE = "/tavreq/test/pages/close.html"
BOX_CAPTION = "Lumetra"
NOT_SUPPORTED = "This object does not support this method."

_no_proxy = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def conversion(src, dst):
    return f"Could not convert variant of type ({src}) into type ({dst})"


class ClosePage:
    """The command page in a running program."""

    def __init__(self, test, prog):
        self.test, self.prog, self.server = test, prog, test.server
        self.next_id = 0
        self.seen = 0

    def reports(self, name, since=0):
        q = urllib.parse.urlencode({"wait": name, "since": since, "timeout": 0})
        try:
            with _no_proxy.open(self.server.url("/_test/reports?" + q), timeout=30) as r:
                return json.loads(r.read().decode("utf-8"))
        except urllib.error.HTTPError as e:
            if e.code == 404:
                return []
            raise

    def wait_report(self, name, since=0, timeout=harness.EVENT_TIMEOUT):
        """The first report NAME newer than `since`; fails early when the program ends."""
        hit = poll(lambda: self.reports(name, since) or (not self.prog.running() and "ended"), timeout, 0.1)
        if not hit or hit == "ended":
            raise AssertionError(f"no report {name!r} after seq {since}\n" + self.prog.describe())
        return hit[0]

    def ready(self, since=0):
        return self.wait_report("close-ready", since)

    def post(self, code):
        self.next_id += 1
        self.server.report({"name": "close-cmd", "id": self.next_id, "code": code})
        return self.next_id

    def value(self, code):
        """The value of page script that must not fail."""
        cmd = self.post(code)

        def mine():
            return [h for h in self.reports("close-result", self.seen) if h["json"].get("id") == cmd]
        hit = poll(lambda: mine() or (not self.prog.running() and "ended"), harness.EVENT_TIMEOUT, 0.1)
        if not hit or hit == "ended":
            raise AssertionError(f"no result for {code!r}\n" + self.prog.describe())
        self.seen = max(self.seen, hit[0]["seq"])
        result = hit[0]["json"]
        self.test.assertTrue(result["ok"], f"{code}: {result}")
        return result["value"]

    def register(self, body, name="h"):
        """Makes `body` the page function `name` and registers that name."""
        self.value(f"window[{json.dumps(name)}] = {body}; external.SetCloseHandler({json.dumps(name)}); 0")

    def calls(self):
        """Argument lists of the handler's calls so far (handlers push them to `calls`)."""
        return self.value("calls")


class ClosingTest(harness.ProgramTestCase):

    # -- helpers ----------------------------------------------------------------

    def open_page(self, name=None):
        prog = self.program(name)
        prog.write_ini(complete_ini(self.server.port, LoginPageURI=PAGE))
        prog.start()
        win = prog.main_window()
        page = ClosePage(self, prog)
        # Results of earlier programs' commands are older than this.
        page.seen = page.ready()["seq"]
        return prog, win, page

    def history(self, prog):
        return prog.home / ".local" / "share" / "lumetra" / "history"

    def assertHistoryKept(self, prog):
        path = self.history(prog)
        self.assertTrue(poll(path.exists, harness.EVENT_TIMEOUT, 0.1), f"no {path}\n" + prog.describe())
        self.assertNotIn({"event": "historycleared"}, prog.events(), prog.describe())

    def assertClosed(self, prog):
        """Ended with code 0 (not by a signal) after clearing the history."""
        self.assertEqual(prog.wait_exit(), 0, prog.describe())
        self.assertIn({"event": "historycleared"}, prog.events(), prog.describe())
        self.assertFalse(self.history(prog).exists(), "URL history left behind")

    def assertStaysOpen(self, prog, win, page):
        self.assertTrue(prog.running(), prog.describe())
        self.assertEqual(prog.windows(), [win], prog.describe())
        self.assertTrue(prog.responds(win), "window stopped answering\n" + prog.describe())
        self.assertEqual(page.value("6 * 7"), 42)
        self.assertHistoryKept(prog)

    def boxes(self, prog):
        return [e for e in prog.events() if e.get("event") == "messagebox"]

    def answer_box(self, prog, before, text):
        """Checks that the next message box after the first `before` ones is the
        framework's error box with `text`, and answers it."""
        poll(lambda: len(self.boxes(prog)) > before or not prog.running(), harness.EVENT_TIMEOUT, 0.1)
        boxes = self.boxes(prog)[before:]
        self.assertTrue(boxes, "no message box\n" + prog.describe())
        self.assertEqual({k: boxes[0].get(k) for k in ("caption", "text", "icon", "buttons")},
                         {"caption": BOX_CAPTION, "text": text, "icon": "stop", "buttons": "ok"})
        prog.press_return_on(BOX_CAPTION)

    def answer_page_dialog(self, prog, win, page, key, since):
        """Answers the page's own dialog (drawn by WebKit inside the window) with `key`
        and returns the handler's report of the answer. The dialog shows a moment after
        the handler reported asking, so a key that came too early is typed again."""
        deadline = time.monotonic() + harness.EVENT_TIMEOUT
        while True:
            self.display.activate(win)
            self.display.key(key)
            found = poll(lambda: page.reports("answered", since) or not prog.running(), 10, 0.1)
            if found is not True and found:
                return found[0]
            if found is True or time.monotonic() >= deadline:
                raise AssertionError(f"the page's dialog was not answered with {key}\n" + prog.describe())

    # -- tests --------------------------------------------------------------------

    def test_without_handler_close_ends_program_and_clears_history(self):
        cases = [
            ("never-registered", None),
            # An empty name removes the handler: the page is no longer asked.
            ("removed", "window.h = function () { reportNow({name: 'asked'}); return 0; }; "
                        "external.SetCloseHandler('h'); external.SetCloseHandler(''); 0"),
        ]
        for label, setup in cases:
            with self.subTest(label):
                prog, win, page = self.open_page(label)
                if setup:
                    page.value(setup)
                self.assertHistoryKept(prog)
                prog.close_window(win)
                self.assertClosed(prog)
                self.assertEqual(page.reports("asked"), [])
                self.assertEqual(self.boxes(prog), [])
            self.server.reset()

    def test_return_value_decides(self):
        # Each refusal leaves the program as it was, so one program takes them all in
        # turn; a box that should not be there shows up as the next case's first box.
        staying = [
            ("nothing", "", None),
            ("0", "return 0;", None),
            ("true", "return true;", None),
            ("'abc'", "return 'abc';", conversion("OleStr", "Boolean")),
            ("throws", "throw new TypeError('不能关闭');", "Method call unsuccessful. 不能关闭 (TypeError)."),
        ]
        prog, win, page = self.open_page("staying")
        for label, tail, box in staying:
            with self.subTest(label):
                before = len(self.boxes(prog))
                page.register(f"function () {{ calls.push([].slice.call(arguments)); {tail} }}")
                prog.close_window(win)
                if box:
                    self.answer_box(prog, before, box)
                # Called once, with exactly the argument 0.
                self.assertTrue(poll(lambda: len(page.calls()) == 1, harness.EVENT_TIMEOUT, 0.1),
                                prog.describe())
                self.assertEqual(page.calls(), [[0]])
                self.assertStaysOpen(prog, win, page)
                self.assertEqual([b["text"] for b in self.boxes(prog)[before:]], [box] if box else [])
                page.value("calls = []")

        # The first closes the program above; the second needs one of its own. Never
        # two at once: both pages would run the commands.
        for label, value in (("1", "1"), ("'1'", "'1'")):
            with self.subTest(label):
                if not prog.running():
                    prog, win, page = self.open_page("closing")
                before = len(self.boxes(prog))
                page.register(f"function () {{ return {value}; }}")
                prog.close_window(win)
                self.assertClosed(prog)
                self.assertEqual(self.boxes(prog)[before:], [])

    def test_handler_name_outlives_its_page(self):
        prog, win, page = self.open_page()
        page.register("function () { reportNow({name: 'asked', page: 'first'}); return 1; }")
        page.post(f"location.href = {json.dumps(PAGE + '?second')}")
        page.ready(page.seen)
        prog.wait_event(lambda e: e.get("event") == "loaded" and e.get("uri", "").endswith("?second"))

        prog.close_window(win)
        self.answer_box(prog, 0, NOT_SUPPORTED)
        self.assertStaysOpen(prog, win, page)

        # The name still stands: a function of that name on the new page is asked.
        page.value("window.h = function () { reportNow({name: 'asked', page: 'second'}); return 0; }")
        prog.close_window(win)
        self.assertEqual(page.wait_report("asked")["json"]["page"], "second")
        self.assertStaysOpen(prog, win, page)

        # The exit operation ends the program without asking the page.
        page.post("external.ApplicationExit()")
        self.assertClosed(prog)
        self.assertEqual([r["json"]["page"] for r in page.reports("asked")], ["second"])
        self.assertEqual(len(self.boxes(prog)), 1, prog.describe())

    def test_close_waits_for_the_page_dialog(self):
        prog, win, page = self.open_page()
        page.register("function () { reportNow({name: 'asking'}); var yes = confirm('确定退出吗？'); "
                      "reportNow({name: 'answered', yes: yes}); return yes ? 1 : 0; }")
        since = page.seen
        for key, yes in (("Escape", False), ("Return", True)):
            with self.subTest(key):
                prog.close_window(win)
                asking = page.wait_report("asking", since)
                self.assertTrue(prog.running(), "closed before the page's dialog was answered\n"
                                + prog.describe())
                answer = self.answer_page_dialog(prog, win, page, key, asking["seq"])
                self.assertEqual(answer["json"]["yes"], yes)
                since = answer["seq"]
                if yes:
                    self.assertClosed(prog)
                else:
                    self.assertStaysOpen(prog, win, page)
        self.assertEqual(self.boxes(prog), [])

    def test_unusable_handler_names_show_a_box(self):
        prog, win, page = self.open_page()
        # Script in a name must not run: it would set `pwned`.
        cases = [
            ("blank", "a b", NOT_SUPPORTED),
            ("digit-first", "1x", NOT_SUPPORTED),
            ("10-KB", "x" * 10240, NOT_SUPPORTED),
            ("script", "h\"]; window.pwned = 1; //", NOT_SUPPORTED),
            ("script-quote", "h']; window.pwned = 1; //\u2028", NOT_SUPPORTED),
            # A function every page has, which cannot be called.
            ("constructor", "constructor", None),
        ]
        for label, name, text in cases:
            with self.subTest(label):
                before = len(self.boxes(prog))
                page.value(f"external.SetCloseHandler({json.dumps(name)}); 0")
                prog.close_window(win)
                poll(lambda: len(self.boxes(prog)) > before or not prog.running(), harness.EVENT_TIMEOUT, 0.1)
                boxes = self.boxes(prog)[before:]
                self.assertTrue(boxes, prog.describe())
                self.assertEqual((boxes[0]["caption"], boxes[0]["icon"]), (BOX_CAPTION, "stop"), boxes[0])
                if text:
                    self.assertEqual(boxes[0]["text"], text)
                prog.press_return_on(BOX_CAPTION)
                self.assertStaysOpen(prog, win, page)
                self.assertEqual(page.value("typeof pwned"), "undefined")
        page.post("external.ApplicationExit()")
        self.assertClosed(prog)

    def test_long_handler_is_waited_for(self):
        prog, win, page = self.open_page()
        # Three seconds of the page's own work, then each handler's answer is applied.
        # Whether the window answers the WM meanwhile is left open: the call runs on
        # the main thread and need not keep its loop turning.
        cases = [
            ("busy-refuses", "var end = Date.now() + 3000; while (Date.now() < end) {} ", 0),
            ("slow-request-allows", "var r = new XMLHttpRequest(); "
                                    "r.open('GET', '/tavreq/test/slow.html?ms=3000', false); r.send(); ", 1),
        ]
        for label, work, result in cases:
            with self.subTest(label):
                page.register(f"function () {{ reportNow({{name: 'start', label: '{label}'}}); {work}"
                              f"reportNow({{name: 'end', label: '{label}'}}); return {result}; }}")
                prog.close_window(win)
                start = page.wait_report("start", page.seen)
                self.assertTrue(prog.running(), prog.describe())
                end = page.wait_report("end", start["seq"])
                self.assertEqual(end["json"]["label"], label)
                self.assertGreaterEqual(end["time"] - start["time"], 2.5)
                if result:
                    self.assertClosed(prog)
                else:
                    self.assertStaysOpen(prog, win, page)

    def test_handler_that_navigates_away_still_closes(self):
        prog, win, page = self.open_page()
        page.register("function () { location.href = '/tavreq/test/title.html?t=away'; return 1; }")
        prog.close_window(win)
        self.assertClosed(prog)
        self.assertEqual(self.boxes(prog), [])


if __name__ == "__main__":
    unittest.main()
