"""The program in a desktop session: a log-off asks the page as a user's close does,
is held off while the page refuses, and ends the program without the close.

Each test gets a private session bus with our fake session manager on it
(fake_session_manager.py) and starts the program on that bus. The page is
server/pages/session.html, which refuses until the test lets it. Without a session
bus (all the other end-to-end tests) the program runs without a session."""

import json
import re
import unittest
import urllib.request

import harness
from fake_session_manager import FakeSessionManager, SessionBus
from harness import complete_ini, poll

APP_ID = "example.drevant.Lumetra"
PAGE = "/tavreq/test/pages/session.html"
# What GBK text read as another encoding turns into; the reason is shown to the user.
MOJIBAKE = re.compile("[\u0080-\u00ff\ufffd]")
INHIBIT_LOGOUT = 1

_no_proxy = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class SessionProgram(harness.Program):
    """A program started on the given session bus."""

    def __init__(self, display, name, bus):
        super().__init__(display, name)
        self.bus = bus

    def env(self):
        env = super().env()
        env["DBUS_SESSION_BUS_ADDRESS"] = self.bus.address
        return env


class SessionTest(harness.ProgramTestCase):

    def setUp(self):
        super().setUp()
        self.bus = SessionBus()
        self.addCleanup(self.bus.stop)
        label = self.id().split(".", 1)[-1]
        logs = harness.ARTIFACTS / "logs"
        logs.mkdir(parents=True, exist_ok=True)
        log = logs / f"{label}.session-manager.jsonl"
        self.sm = FakeSessionManager(self.bus, log)
        self.addCleanup(self.sm.stop)

    def start_program(self):
        """The program showing the session page, its window, its history file."""
        prog = SessionProgram(self.display, self.id().split(".", 1)[-1], self.bus)
        self.addCleanup(prog.stop)  # before the bus and the manager go
        prog.write_ini(complete_ini(self.server.port, LoginPageURI=PAGE))
        prog.start()
        win = prog.main_window()
        self.server.wait_report("session-ready")
        self.assertEqual(self.sm.wait_call("RegisterClient")["args"][0], APP_ID, self.describe(prog))
        history = prog.home / ".local" / "share" / "lumetra" / "history"
        self.assertTrue(poll(history.exists, harness.EVENT_TIMEOUT), "no history file\n" + self.describe(prog))
        return prog, win, history

    def describe(self, prog):
        return prog.describe() + "\n" + self.sm.describe()

    def report(self, data):
        self.server.report(data)

    def asked(self, count):
        """The page's first `count` reports of its close handler being called."""
        def hits():
            found = self.server.wait_report("session-asked")
            return found if len(found) >= count else None
        found = poll(hits, harness.EVENT_TIMEOUT)
        self.assertTrue(found, f"close handler not called {count} times")
        return [h["json"] for h in found[:count]]

    def query_end(self, prog, answer, nth):
        """Emits the session's `nth` QueryEndSession and checks that the program has
        answered it once, with `answer`; returns the calls it made to the manager
        meanwhile."""
        since = self.sm.emit("QueryEndSession", 0)

        def answers():
            return [e for e in prog.events() if e.get("event") == "queryend"]
        poll(lambda: len(answers()) >= nth or not prog.running(), harness.EVENT_TIMEOUT)
        self.assertEqual(answers()[nth - 1:], [{"event": "queryend", "answer": answer}], self.describe(prog))
        # GTK answers the manager once the program's handler has returned; the manager
        # then goes by the inhibitors it has, so they must be up to date before that.
        self.sm.wait_call("EndSessionResponse", since)
        return self.sm.calls(since=since)

    def test_log_off_is_held_off_while_the_page_refuses_and_ends_without_the_close(self):
        prog, win, history = self.start_program()

        # The page refuses: the log-off is inhibited for the main window.
        calls = self.query_end(prog, "no", 1)
        self.assertEqual(self.asked(1), [{"name": "session-asked", "arg": 0, "answer": 0}])
        self.assertEqual([c["call"] for c in calls], ["Inhibit", "EndSessionResponse"], self.describe(prog))
        app_id, xid, reason, flags = calls[0]["args"]
        self.assertEqual((app_id, xid, flags), (APP_ID, win, INHIBIT_LOGOUT))
        self.assertTrue(reason.strip() and not MOJIBAKE.search(reason), f"reason {reason!r}")
        self.assertEqual(calls[1]["args"], [True, ""])
        cookie = self.sm.wait(lambda r: r.get("returned") == "Inhibit")["value"]

        # The user gives in to the refusal: the program goes on as before.
        self.sm.emit("CancelEndSession")
        self.assertTrue(prog.responds(win), self.describe(prog))
        self.assertEqual([e for e in prog.events() if e.get("event") in ("sessionend", "historycleared")], [],
                         self.describe(prog))

        # The page now allows: the earlier inhibition is lifted, no new one taken.
        self.report({"name": "session-allow"})
        self.server.wait_report("session-allowing")
        calls = self.query_end(prog, "yes", 2)
        self.assertEqual(self.asked(2)[1], {"name": "session-asked", "arg": 0, "answer": 1})
        self.assertEqual([(c["call"], c["args"]) for c in calls],
                         [("Uninhibit", [cookie]), ("EndSessionResponse", [True, ""])], self.describe(prog))

        # The session ends: the program leaves without the window's close, so the
        # history the close would clear is still there.
        before = history.read_bytes()
        since = self.sm.emit("EndSession", 0)
        self.assertEqual(prog.wait_exit(), 0, self.describe(prog))
        self.assertEqual([e["event"] for e in prog.events() if e.get("event") in ("sessionend", "historycleared")],
                         ["sessionend"], self.describe(prog))
        self.assertTrue(history.exists(), "history file removed\n" + self.describe(prog))
        self.assertEqual(history.read_bytes(), before)
        self.assertEqual(self.sm.wait_call("EndSessionResponse", since)["args"], [True, ""], self.describe(prog))
        # Neither the cancel nor the end took or lifted an inhibition.
        self.assertEqual([c["call"] for c in self.sm.calls() if c["call"] in ("Inhibit", "Uninhibit")],
                         ["Inhibit", "Uninhibit"], self.describe(prog))

    def test_session_end_during_a_message_box_ends_the_program(self):
        # An open box is closed when the session ends, so its loop does not keep the
        # program running on a desktop that is gone.
        prog, win, history = self.start_program()
        self.report({"name": "session-box"})
        prog.wait_event({"event": "messagebox"})
        since = self.sm.emit("EndSession", 0)
        self.sm.wait_call("EndSessionResponse", since)
        self.assertEqual(prog.wait_exit(), 0, self.describe(prog))
        self.assertTrue(history.exists(), "history file removed\n" + self.describe(prog))
