"""What the program does with the browser's events: the caption follows the page title,
failed navigations lead to the local error pages or to the configuration page, the
login cookie switches to the main layout, script errors are shown, Ctrl+N is kept
from the page.

The program opens its login page at start, so each test points LoginPageURI at the
test page it needs."""

import json
import os
import socket
import unittest
import urllib.parse
import urllib.request

import harness
from harness import Geometry, complete_ini, poll

CONFIG_CAPTION = "配置运行参数"
SCRIPT_ERROR_CAPTION = "Lumetra"
# Outer size of the dialog layout, frame included, centred on the screen.
DIALOG = Geometry((harness.SCREEN[0] - 450) // 2, (harness.SCREEN[1] - 300) // 2, 450, 300)
FULL_SCREEN = Geometry(0, 0, *harness.SCREEN)
TOLERANCE = 2  # the WM rounds the frame around the client by a pixel or two

_no_proxy = urllib.request.build_opener(urllib.request.ProxyHandler({}))


def as_path(target):
    """A navigation target or loaded URI as a real path, whether a path or a file: URL."""
    if target.startswith("file:"):
        target = urllib.parse.unquote(urllib.parse.urlsplit(target).path)
    return os.path.realpath(target)


def closed_port():
    """A port of 127.0.0.1 that nothing listens on (bound, then released)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class BrowserEventsTest(harness.ProgramTestCase):

    # -- helpers ----------------------------------------------------------------

    def start_at(self, route, name=None):
        """Starts a program whose login page is `route` of the shared server."""
        prog = self.program(name)
        prog.write_ini(complete_ini(self.server.port, LoginPageURI=route))
        prog.start()
        return prog, prog.main_window()

    def reports(self, name=None):
        with _no_proxy.open(self.server.url("/_test/reports"), timeout=30) as r:
            found = json.loads(r.read().decode("utf-8"))
        return [r["json"] for r in found
                if isinstance(r["json"], dict) and (name is None or r["json"].get("name") == name)]

    def post_report(self, data):
        self.server.report(data)

    def wait_report(self, pred, what, timeout=harness.EVENT_TIMEOUT):
        found = poll(lambda: [r for r in self.reports() if pred(r)], timeout, 0.1)
        self.assertTrue(found, f"no report {what} within {timeout} s; reports: "
                               + json.dumps(self.reports(), ensure_ascii=False))
        return found[0]

    def loaded(self, prog, path_part):
        return prog.wait_event(lambda e: e.get("event") == "loaded" and path_part in e.get("uri", ""))

    def wm_state(self, win):
        return self.display.run(["xprop", "-id", win, "_NET_WM_STATE"], check=False)

    def is_maximised(self, win):
        state = self.wm_state(win)
        return "_NET_WM_STATE_MAXIMIZED_VERT" in state and "_NET_WM_STATE_MAXIMIZED_HORZ" in state

    def near(self, geometry, want):
        return all(abs(a - b) <= TOLERANCE for a, b in zip(geometry, want))

    def assertCaption(self, prog, win, text):
        poll(lambda: prog.caption(win) == text, 30, 0.1)
        self.assertEqual(prog.caption(win), text, prog.describe())

    def assertDialogLayout(self, prog, win):
        """450 x 300 outer frame, centred, fixed size, not maximised; polled since the
        WM may still be placing the window."""
        seen = []
        poll(lambda: seen.append(prog.geometry(win)) or self.near(seen[-1], DIALOG), 15, 0.1)
        self.assertTrue(self.near(seen[-1], DIALOG), f"outer geometry {tuple(seen[-1])}, want "
                                                     f"{tuple(DIALOG)} ±{TOLERANCE}\n" + prog.describe())
        low, high = self.display.size_hints(win)
        self.assertIsNotNone(low, "no minimum size hint: the dialog layout is not fixed-size")
        self.assertEqual(low, high, "minimum and maximum size differ: the dialog layout is resizable")
        self.assertFalse(self.is_maximised(win), self.wm_state(win))

    def assertMainLayout(self, prog):
        """Maximised over the whole screen and resizable. The window is mapped anew when
        its border changes, so it is looked up again."""
        win = prog.main_window()
        poll(lambda: self.is_maximised(win), 30, 0.1)
        self.assertTrue(self.is_maximised(win), self.wm_state(win) + "\n" + prog.describe())
        seen = []
        poll(lambda: seen.append(prog.geometry(win)) or self.near(seen[-1], FULL_SCREEN), 15, 0.1)
        self.assertTrue(self.near(seen[-1], FULL_SCREEN), f"outer geometry {tuple(seen[-1])}, want "
                                                          f"{tuple(FULL_SCREEN)}\n" + prog.describe())
        low, high = self.display.size_hints(win)
        self.assertTrue(high is None or high != low, f"size fixed at {high}: the main layout is not resizable")
        self.assertTrue(prog.responds(win), prog.describe())
        return win

    def layouts(self, prog):
        """Names of the layout events, of all the program's forms (its other forms
        take the dialog layout when they are created)."""
        return [e.get("name") for e in prog.events() if e.get("event") == "layout"]

    # -- caption ----------------------------------------------------------------

    def test_caption_follows_page_title_except_plain_http_address(self):
        cases = [
            ("plain", "发票查询 2026", "发票查询 2026"),
            ("http-address", "请访问 http://127.0.0.1/ 办理", "Lumetra"),
            ("https-address", "安全站点 https://127.0.0.1/ 说明", "安全站点 https://127.0.0.1/ 说明"),
            ("both", "https://127.0.0.1/ 与 http://127.0.0.1/", "Lumetra"),
        ]
        for label, title, caption in cases:
            with self.subTest(label):
                prog, win = self.start_at("/tavreq/test/title.html?t=" + urllib.parse.quote(title), label)
                try:
                    self.loaded(prog, "/tavreq/test/title.html")
                    self.assertCaption(prog, win, caption)
                    captions = [e.get("text") for e in prog.events() if e.get("event") == "caption"]
                    self.assertEqual(captions[-1], caption, prog.describe())
                finally:
                    prog.stop()

    # -- failed navigations -----------------------------------------------------

    def test_http_error_leads_to_local_error_page(self):
        error_pages = {"404.html": "页面不存在", "500.html": "服务器内部错误", "unknownerror.html": "无法打开页面"}
        cases = [
            ("main-404", "/tavreq/test/status/404", "404.html"),
            ("main-500", "/tavreq/test/status/500", "500.html"),
            ("main-503", "/tavreq/test/status/503", "unknownerror.html"),
            ("frame-404", "/tavreq/test/frame404.html", "404.html"),
        ]
        for label, route, page in cases:
            with self.subTest(label):
                prog, win = self.start_at(route, label)
                try:
                    want = os.path.realpath(prog.folder / page)
                    nav = prog.wait_event(lambda e: e.get("event") == "navigate"
                                          and not e.get("target", "").startswith("http:"))
                    self.assertTrue(nav["target"].startswith("/"), f"not a plain path: {nav['target']!r}")
                    self.assertEqual(as_path(nav["target"]), want, prog.describe())
                    prog.wait_event(lambda e: e.get("event") == "loaded" and e.get("uri", "").startswith("file:")
                                    and as_path(e["uri"]) == want)
                    self.assertCaption(prog, win, error_pages[page])
                    self.server.wait_request(urllib.parse.urlsplit(route).path)
                    if label == "frame-404":
                        self.server.wait_request("/tavreq/test/status/404")
                    # Exactly one way out, and no other error page on top of it.
                    local = [as_path(e["target"]) for e in prog.events()
                             if e.get("event") == "navigate" and e.get("target", "").startswith("/")]
                    self.assertEqual(local, [want], prog.describe())
                    self.assertNotIn("main", self.layouts(prog), prog.describe())
                finally:
                    prog.stop()
                self.server.reset()

    def test_unreachable_server_at_login_opens_configuration_page(self):
        cases = [
            ("closed-port", "127.0.0.1", closed_port()),
            # The "!" makes the C library refuse the name before any lookup leaves the
            # machine; it is a valid host of a URL all the same.
            ("unresolvable-name", "no-such-host!.invalid", self.server.port),
        ]
        for label, host, port in cases:
            with self.subTest(label):
                prog = self.program(label)
                prog.write_ini(complete_ini(port, ServerURL=host))
                prog.start()
                try:
                    win = prog.main_window()
                    prog.wait_event({"event": "loadfailed"})
                    config_page = os.path.realpath(prog.folder / "config.html")
                    nav = prog.wait_event(lambda e: e.get("event") == "navigate"
                                          and not e.get("target", "").startswith("http:"))
                    self.assertEqual(as_path(nav["target"]), config_page, prog.describe())
                    prog.wait_event(lambda e: e.get("event") == "loaded" and e.get("uri", "").startswith("file:")
                                    and as_path(e["uri"]) == config_page)
                    self.assertCaption(prog, win, CONFIG_CAPTION)
                    self.assertDialogLayout(prog, win)
                    self.assertNotIn("main", self.layouts(prog), prog.describe())
                    self.assertEqual(prog.windows(), [win], prog.describe())
                finally:
                    prog.stop()

    # -- login cookie -----------------------------------------------------------

    def test_dialog_layout_holds_without_login_cookie_until_server_sets_it(self):
        walk = "/tavreq/test/pages/walk.html?" + urllib.parse.urlencode(
            {"last": 3, "then": "/tavreq/test/setcookie.html"})
        prog, win = self.start_at(walk)
        last = self.wait_report(lambda r: r.get("name") == "walk" and r.get("step") == 3, "walk step 3")
        self.assertNotIn("tavreq_is_login=true", last["cookie"])
        self.loaded(prog, "step=3")
        self.assertEqual(prog.windows(), [win], prog.describe())
        self.assertDialogLayout(prog, win)
        self.assertTrue(prog.responds(win), prog.describe())
        self.assertNotIn("main", self.layouts(prog), prog.describe())

        self.post_report({"name": "go"})
        cookie_page = self.loaded(prog, "/tavreq/test/setcookie.html")
        main = prog.wait_event({"event": "layout", "name": "main"})
        events = prog.events()
        self.assertGreater(events.index(main), events.index(cookie_page), prog.describe())
        self.assertMainLayout(prog)

    def test_login_form_switches_to_main_layout(self):
        prog, win = self.start_at("/tavreq/test/pages/autologin.html")
        self.server.wait_request("/tavreq/login/login.do")
        home = self.loaded(prog, harness.INDEX_PAGE)
        main = prog.wait_event({"event": "layout", "name": "main"})
        events = prog.events()
        self.assertGreater(events.index(main), events.index(home), prog.describe())
        self.assertNotIn("main", self.layouts(prog)[:-1], prog.describe())
        win = self.assertMainLayout(prog)
        self.assertCaption(prog, win, "Lumetra 首页")
        prog.screenshot("browser-main-layout", painted=win)

    # -- script errors ----------------------------------------------------------

    def test_every_script_error_gets_its_own_message_box(self):
        prog, win = self.start_at("/tavreq/test/scripterror.html")
        expected = ["测试脚本错误"]
        box = prog.wait_event({"event": "messagebox"})
        self.assertEqual((box["caption"], box["buttons"]), (SCRIPT_ERROR_CAPTION, "ok"), box)
        self.assertIn("测试脚本错误", box["text"])
        prog.screenshot("browser-script-error", painted=prog.wait_window(SCRIPT_ERROR_CAPTION))
        prog.press_return_on(SCRIPT_ERROR_CAPTION)

        # The page's one button throws; it keeps the focus, so the same error comes
        # twice: two boxes, one after the other.
        for keys in (["Tab", "space"], ["space"]):
            self.display.activate(win)
            self.display.key(*keys)
            expected.append("按钮脚本错误")
            boxes = poll(lambda: len([e for e in prog.events() if e.get("event") == "messagebox"])
                         >= len(expected), harness.EVENT_TIMEOUT, 0.1)
            self.assertTrue(boxes, prog.describe())
            prog.press_return_on(SCRIPT_ERROR_CAPTION)

        boxes = [e for e in prog.events() if e.get("event") == "messagebox"]
        self.assertEqual(len(boxes), len(expected), prog.describe())
        for box, message in zip(boxes, expected):
            self.assertEqual(box["caption"], SCRIPT_ERROR_CAPTION)
            self.assertIn(message, box["text"])
        self.assertTrue(prog.running(), prog.describe())
        self.assertEqual(prog.windows(), [win], prog.describe())
        self.assertTrue(prog.responds(win), prog.describe())

    # -- keyboard -------------------------------------------------------------------

    def test_ctrl_n_is_kept_from_page_other_shortcuts_reach_it(self):
        prog, win = self.start_at("/tavreq/test/keys.html")
        self.server.wait_report("keys-ready")
        self.display.activate(win)

        def is_ctrl_n(r):
            return r.get("ctrlKey") and not r.get("shiftKey") and str(r.get("key")).lower() == "n"

        cases = [
            ("ctrl+n", False, is_ctrl_n),
            ("ctrl+shift+n", True,
             lambda r: r.get("ctrlKey") and r.get("shiftKey") and str(r.get("key")).lower() == "n"),
            ("ctrl+m", True, lambda r: r.get("ctrlKey") and str(r.get("key")).lower() == "m"),
        ]
        # After each combination a plain letter marks that the keys before it have
        # been handled by the page.
        for i, (combo, reaches, match) in enumerate(cases):
            with self.subTest(combo):
                marker = "abc"[i]
                self.display.key(combo, marker)
                self.wait_report(lambda r: r.get("name") == "key" and r.get("key") == marker
                                 and not r.get("ctrlKey"), f"key {marker}")
                seen = [r for r in self.reports("key") if match(r)]
                if reaches:
                    self.assertTrue(seen, f"{combo} did not reach the page: {self.reports('key')}")
                else:
                    self.assertEqual(seen, [], f"{combo} reached the page")
        # A report of Ctrl+N racing the marker's would have arrived by now.
        self.assertEqual([r for r in self.reports("key") if is_ctrl_n(r)], [])
        self.assertTrue(prog.responds(win), prog.describe())


if __name__ == "__main__":
    unittest.main()
