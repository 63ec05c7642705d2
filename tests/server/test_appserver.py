"""Self-test of the bundled application server (server/appserver.py)."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request
from http.cookiejar import CookieJar

SERVER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "server", "appserver.py")


def start_server(tmpdir):
    """Starts the server on a free port; returns (process, base URL)."""
    port_file = os.path.join(tmpdir, "port")
    proc = subprocess.Popen(
        [sys.executable, SERVER, "--port-file", port_file, "--log", os.path.join(tmpdir, "access.log")],
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, start_new_session=True)
    deadline = time.monotonic() + 15
    while not os.path.exists(port_file):
        if proc.poll() is not None:
            raise RuntimeError("appserver exited early: " + proc.stderr.read())
        if time.monotonic() > deadline:
            stop_server(proc)
            raise RuntimeError("appserver did not write its port file")
        time.sleep(0.02)
    with open(port_file) as f:
        port_text = f.read()
    return proc, port_text


def stop_server(proc):
    """SIGTERM, then SIGKILL to the whole group if it lingers; returns the exit code."""
    if proc.poll() is None:
        proc.send_signal(signal.SIGTERM)
        try:
            proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            os.killpg(proc.pid, signal.SIGKILL)
            proc.wait()
    for stream in (proc.stdout, proc.stderr):
        stream.close()
    return proc.returncode


class NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


class AppServerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tmp = tempfile.TemporaryDirectory()
        cls.addClassCleanup(tmp.cleanup)
        cls.proc, port_text = start_server(tmp.name)
        cls.addClassCleanup(stop_server, cls.proc)
        cls.base = f"http://127.0.0.1:{port_text.strip()}"

    def setUp(self):
        self.post("/_test/reset", b"")

    def open(self, path, data=None, headers=None, opener=None, timeout=15):
        """Returns (status, headers, body text) without raising on HTTP errors."""
        req = urllib.request.Request(self.base + path, data=data, headers=headers or {})
        try:
            with (opener or urllib.request.build_opener()).open(req, timeout=timeout) as resp:
                return resp.status, resp.headers, resp.read().decode("utf-8")
        except urllib.error.HTTPError as e:
            with e:
                return e.code, e.headers, e.read().decode("utf-8")

    def post(self, path, data, headers=None):
        return self.open(path, data=data, headers=headers)

    def requests_log(self):
        return json.loads(self.open("/_test/requests")[2])

    def test_login(self):
        no_redirect = urllib.request.build_opener(NoRedirect)
        status, headers, _ = self.open("/tavreq/login/login.do", b"username=%E5%BC%A0%E4%B8%89&password=",
                                       opener=no_redirect)
        self.assertEqual(status, 303)
        self.assertEqual(headers["Location"], "/tavreq/login/home.html")
        cookie = headers["Set-Cookie"]
        self.assertIn("tavreq_is_login=true", cookie)
        self.assertIn("Path=/", cookie)
        self.assertNotIn("httponly", cookie.lower())  # pages read it from document.cookie

        status, headers, _ = self.open("/tavreq/login/login.do", b"username=++&password=x", opener=no_redirect)
        self.assertEqual(status, 303)
        self.assertTrue(headers["Location"].startswith("/tavreq/login/init.html"))
        self.assertIsNone(headers["Set-Cookie"])

        # A browser-like client lands on the home page and sends the cookie from then on.
        jar = CookieJar()
        browser = urllib.request.build_opener(urllib.request.HTTPCookieProcessor(jar))
        status, _, body = self.open("/tavreq/login/login.do", b"username=a&password=b", opener=browser)
        self.assertEqual(status, 200)
        self.assertIn("<title>Lumetra 首页</title>", body)
        home = [r for r in self.requests_log() if r["path"] == "/tavreq/login/home.html"]
        self.assertEqual(home[-1]["cookie"], "tavreq_is_login=true")

        self.open("/tavreq/login/Logout.html", opener=browser)
        self.assertEqual(len(jar), 0)

    def test_status_routes(self):
        for path, want in [("/tavreq/test/status/404", 404), ("/tavreq/test/status/500", 500),
                           ("/tavreq/test/status/503", 503), ("/tavreq/test/status/200", 404),
                           ("/tavreq/test/pages/../appserver.py", 404),
                           ("/tavreq/test/pages/%2e%2e/appserver.py", 404),
                           ("/tavreq/test/pages/.gitkeep", 404)]:
            with self.subTest(path=path):
                status, headers, body = self.open(path)
                self.assertEqual(status, want)
                self.assertEqual(headers["Content-Type"], "text/html; charset=utf-8")
                self.assertIn('<meta charset="utf-8">', body)

    def test_title_is_decoded_and_escaped(self):
        _, _, body = self.open("/tavreq/test/title.html?t=%3Cb%3E%E5%8F%91%E7%A5%A8+%26")
        self.assertIn("<title>&lt;b&gt;发票 &amp;</title>", body)

    def test_request_log(self):
        ua = "Mozilla/5.0 (X11; Linux x86_64) LumetraTest/1.0"
        status, _, body = self.open("/tavreq/test/echo-ua?x=1", headers={"User-Agent": ua, "Cookie": "a=b"})
        self.assertEqual((status, body), (200, ua))
        self.open("/tavreq/test/status/500", headers={"User-Agent": "Other"})

        log = self.requests_log()
        self.assertEqual([(r["method"], r["path"], r["status"], r["user_agent"]) for r in log], [
            ("GET", "/tavreq/test/echo-ua?x=1", 200, ua),
            ("GET", "/tavreq/test/status/500", 500, "Other"),
        ])  # the harness's own /_test/ calls stay out of the log
        self.assertEqual(log[0]["cookie"], "a=b")

    def test_report_long_poll(self):
        def post_later():
            time.sleep(0.3)
            self.post("/_test/report", b"not json")
            self.post("/_test/report", b'{"name": "other"}')
            self.post("/_test/report", json.dumps({"name": "done", "value": "好"}).encode(),
                      {"Content-Type": "application/json", "Referer": self.base + "/tavreq/test/keys.html?a=1"})

        poster = threading.Thread(target=post_later)
        poster.start()
        try:
            status, _, body = self.open("/_test/reports?wait=done&timeout=20")
        finally:
            poster.join()
        self.assertEqual(status, 200)
        [report] = json.loads(body)
        self.assertEqual(report["json"], {"name": "done", "value": "好"})
        self.assertEqual(report["referer"], "/tavreq/test/keys.html")
        self.assertEqual(len(json.loads(self.open("/_test/reports")[2])), 3)

        # since= skips what was already seen, so the same name can be awaited again.
        start = time.monotonic()
        status, _, _ = self.open(f"/_test/reports?wait=done&timeout=0.5&since={report['seq']}")
        self.assertEqual(status, 404)
        self.assertGreaterEqual(time.monotonic() - start, 0.5)


class LifecycleTest(unittest.TestCase):
    def test_port_file_banner_and_clean_exit(self):
        with tempfile.TemporaryDirectory() as tmp:
            proc, port_text = start_server(tmp)
            try:
                self.assertRegex(port_text, r"^[1-9][0-9]*\n$")
                self.assertEqual(proc.stdout.readline(),
                                 f"appserver listening on http://127.0.0.1:{port_text.strip()}/\n")
            finally:
                code = stop_server(proc)
            self.assertEqual(code, 0)


if __name__ == "__main__":
    unittest.main()
