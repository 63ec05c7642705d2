"""Start-up of the real program: first window, configuration states, single instance."""

import os
import re
import unittest
import urllib.parse

import harness
from harness import Geometry, LOGIN_PAGE, complete_ini, login_url, poll

LOGIN_CAPTION = "登录"
CONFIG_CAPTION = "配置运行参数"
UA_PREFIX = ("Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1; SV1; .NET CLR 1.1.4322, "
             "Drevant-Lumetra/1.0.0.0, ")
# Outer size, frame included, centred on the screen.
DIALOG = Geometry((harness.SCREEN[0] - 450) // 2, (harness.SCREEN[1] - 300) // 2, 450, 300)
TOLERANCE = 2  # centring with the frame added may round a pixel or two either way


def as_path(target):
    """A navigation target as a real path, whether given as a path or a file: URL."""
    if target.startswith("file:"):
        target = urllib.parse.unquote(urllib.parse.urlsplit(target).path)
    return os.path.realpath(target)


class StartupTest(harness.ProgramTestCase):

    def assertDialogLayout(self, prog, win):
        """What is measured: the outer frame that openbox draws around the client
        (client geometry from xwininfo plus _NET_FRAME_EXTENTS), since the window's
        450 x 300 includes its frame. Polled because the WM may still be placing it."""
        def near(g):
            return all(abs(a - b) <= TOLERANCE for a, b in zip(g, DIALOG))
        seen = []

        def settled():
            seen.append(prog.geometry(win))
            return near(seen[-1])
        poll(settled, 15, 0.1)
        self.assertTrue(near(seen[-1]), f"outer geometry {tuple(seen[-1])}, want {tuple(DIALOG)} "
                                        f"±{TOLERANCE}\n" + prog.describe())
        low, high = self.display.size_hints(win)
        self.assertIsNotNone(low, "no minimum size hint: the dialog layout is not fixed-size")
        self.assertEqual(low, high, "minimum and maximum size differ: the dialog layout is resizable")

    def assertCaption(self, prog, win, text):
        poll(lambda: prog.caption(win) == text, 30, 0.1)
        self.assertEqual(prog.caption(win), text, prog.describe())

    def test_complete_configuration_opens_login_page_in_small_dialog(self):
        prog = self.start_program()
        win = prog.main_window()
        self.assertDialogLayout(prog, win)
        self.assertCaption(prog, win, LOGIN_CAPTION)
        prog.wait_event({"event": "navigate", "target": login_url(self.server.port)})

        hits = self.server.wait_request(LOGIN_PAGE)
        # The host name of the maker's site goes between the fixed part and ")".
        self.assertRegex(hits[0]["user_agent"] or "", "^" + re.escape(UA_PREFIX) + r"[^\s()]+\)$")

        prog.wait_event(lambda e: e.get("event") == "loaded" and LOGIN_PAGE in e.get("uri", ""))
        self.assertEqual(prog.windows(), [win], "more than one visible window\n" + prog.describe())
        prog.screenshot("startup-login", painted=win)

    def test_incomplete_configuration_opens_local_config_page(self):
        cases = [
            ("shipped", None),  # the Corvane.ini of the program folder as built
            ("no-version", complete_ini(self.server.port, Version=None)),
            ("empty-index", complete_ini(self.server.port, IndexPageURI="")),
        ]
        for label, ini in cases:
            with self.subTest(label):
                prog = self.program(label)
                if ini is not None:
                    prog.write_ini(ini)
                prog.start()
                try:
                    win = prog.main_window()
                    self.assertDialogLayout(prog, win)
                    self.assertCaption(prog, win, CONFIG_CAPTION)

                    config_page = os.path.realpath(prog.folder / "config.html")
                    prog.wait_event(lambda e: e.get("event") == "navigate"
                                    and as_path(e.get("target", "")) == config_page)
                    prog.wait_event(lambda e: e.get("event") == "loaded"
                                    and as_path(e.get("uri", "")) == config_page)
                    prog.screenshot("startup-config-" + label, painted=win)
                    self.assertNotIn(LOGIN_PAGE, [urllib.parse.urlsplit(r["path"]).path
                                                  for r in self.server.requests()])
                finally:
                    prog.stop()

    def test_missing_configuration_file_ends_program_after_message(self):
        prog = self.program()
        prog.remove_ini()
        prog.start()
        box = prog.wait_event({"event": "messagebox"})
        self.assertEqual(box["text"], "未找到配置文件，应用程序已经损坏，请卸载后重新安装！")
        dialog = prog.wait_window(box["caption"])
        prog.screenshot("startup-missing-ini", painted=dialog)
        prog.press_return_on(box["caption"])
        self.assertEqual(prog.wait_exit(), 0)
        self.assertEqual([e for e in prog.events() if e.get("event") == "navigate"], [])
        self.assertEqual(self.server.requests(), [])

    def test_second_start_is_refused_while_first_runs(self):
        first = self.start_program(name="first")
        win = first.main_window()

        second = self.program("second", same_as=first).start()
        box = second.wait_event({"event": "messagebox"})
        self.assertEqual({k: box.get(k) for k in ("caption", "text", "icon", "buttons")},
                         {"caption": "关闭", "text": "Lumetra已经运行了，不能同时运行多个!",
                          "icon": "information", "buttons": "ok"})
        dialog = second.wait_window("关闭")
        self.assertEqual(second.windows(), [dialog], "the refused start opened a window of its own")
        second.screenshot("startup-second-instance", painted=dialog)
        second.press_return_on("关闭")
        self.assertEqual(second.wait_exit(), 0)
        self.assertEqual([e for e in second.events() if e.get("event") == "navigate"], [])

        self.assertTrue(first.running(), first.describe())
        self.assertEqual(first.windows(), [win])
        self.assertTrue(first.responds(win), "first instance stopped answering\n" + first.describe())

        # The lock dies with the process, even when it cannot clean up.
        first.kill()
        third = self.program("third", same_as=first).start()
        win3 = third.main_window()
        self.assertCaption(third, win3, LOGIN_CAPTION)
        self.assertEqual([e for e in third.events() if e.get("event") == "messagebox"], [])

    def test_unusable_skin_keeps_built_in_look(self):
        for label, content in [("broken-css", b"window { color: #zzz; }}} @import url(\xff\xfe\n{{{ ;"),
                               ("missing-file", None)]:
            with self.subTest(label):
                prog = self.program(label)
                skin = prog.folder / (label + ".css")
                if content is not None:
                    skin.write_bytes(content)
                prog.write_ini(complete_ini(self.server.port, skin=str(skin)))
                prog.start()
                try:
                    win = prog.main_window()
                    self.assertDialogLayout(prog, win)
                    self.assertCaption(prog, win, LOGIN_CAPTION)
                    self.server.wait_request(LOGIN_PAGE)
                    self.assertTrue(prog.responds(win), prog.describe())
                    self.assertEqual([e for e in prog.events() if e.get("event") == "messagebox"], [])
                finally:
                    prog.stop()
                self.server.reset()

    def test_server_that_never_answers_does_not_block_window(self):
        silent = harness.SilentServer()
        self.addCleanup(silent.stop)
        prog = self.start_program(complete_ini(silent.port))
        win = prog.main_window()
        self.assertTrue(silent.accepted.wait(harness.EVENT_TIMEOUT),
                        "the program never connected to the server\n" + prog.describe())
        self.assertCaption(prog, win, LOGIN_CAPTION)
        self.assertTrue(prog.responds(win), "window stopped answering\n" + prog.describe())
        prog.screenshot("startup-silent-server")


if __name__ == "__main__":
    unittest.main()
