"""Fixtures for the end-to-end tests of the desktop program.

Display    a private Xvfb screen with openbox on it.
AppServer  the bundled application server on a free port of 127.0.0.1.
Program    a copy of the program folder with its own Corvane.ini, started with its
           own XDG folders, HOME and events file.

Every wait has a deadline and polls (no fixed sleeps); every process runs in its own
process group and the whole group is killed at the end, also when a test fails or the
run is interrupted. Standard library only.
"""

import atexit
import base64
import collections
import ctypes
import ctypes.util
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.parse
import urllib.request
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
# LUMETRA_DIST lets the same tests run against another build's program folder.
DIST = Path(os.environ.get("LUMETRA_DIST", REPO / "build" / "dist"))
EXECUTABLE = "lumetra"
ARTIFACTS = REPO / "artifacts" / "e2e"
SERVER_SCRIPT = REPO / "server" / "appserver.py"

SCREEN = (1280, 1024)
# Generous on purpose: the first WebKit start on a 2-core machine takes many seconds.
FIRST_WINDOW_TIMEOUT = 60
EVENT_TIMEOUT = 60
EXIT_TIMEOUT = 30
TOOL_TIMEOUT = 30

LOGIN_PAGE = "/tavreq/login/init.html"
INDEX_PAGE = "/tavreq/login/home.html"
LOGOUT_PAGE = "/tavreq/login/Logout.html"


# -- processes --------------------------------------------------------------------

_live = set()


def _spawn(argv, env, stdout=None, stderr=None, cwd=None, pass_fds=()):
    """Starts argv as the leader of a new process group; stdout and stderr name files
    (stderr=subprocess.STDOUT joins them), None discards."""
    with open(stdout or os.devnull, "wb") as out:
        err = subprocess.STDOUT if stderr == subprocess.STDOUT else open(stderr or os.devnull, "wb")
        try:
            proc = subprocess.Popen([str(a) for a in argv], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=err, pass_fds=pass_fds, start_new_session=True)
        finally:
            if err != subprocess.STDOUT:
                err.close()
    _live.add(proc)
    return proc


def _kill_group(proc, grace=5.0):
    """SIGTERM to the group, SIGKILL after `grace` seconds; then SIGKILL whatever is
    left of the group even when the leader has ended (helper processes)."""
    if proc.poll() is None and grace > 0:
        try:
            os.killpg(proc.pid, signal.SIGTERM)
        except ProcessLookupError:
            pass
        try:
            proc.wait(timeout=grace)
        except subprocess.TimeoutExpired:
            pass
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()
    _live.discard(proc)


@atexit.register
def _kill_leftovers():
    for proc in list(_live):
        _kill_group(proc, grace=0)


# A runner stopped by SIGTERM (a CI time limit) should still clean up through atexit.
if signal.getsignal(signal.SIGTERM) == signal.SIG_DFL:
    signal.signal(signal.SIGTERM, lambda signum, frame: sys.exit(128 + signum))


def poll(fn, timeout, interval=0.05):
    """Calls fn until it returns something truthy or `timeout` seconds have passed;
    returns the last value either way."""
    deadline = time.monotonic() + timeout
    while True:
        value = fn()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def _tail(path, limit=4000):
    try:
        data = Path(path).read_bytes()
    except OSError:
        return ""
    text = data[-limit:].decode("utf-8", errors="replace")
    return ("..." if len(data) > limit else "") + text


def _artifact(name):
    ARTIFACTS.mkdir(parents=True, exist_ok=True)
    return ARTIFACTS / name


# -- X display --------------------------------------------------------------------

_OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <theme><name>Clearlooks</name></theme>
  <placement><policy>Smart</policy></placement>
  <focus><focusNew>yes</focusNew></focus>
  <desktops><number>1</number></desktops>
  <keyboard>
    <keybind key="A-F4"><action name="Close"/></keybind>
  </keyboard>
  <menu><file>{menu}</file></menu>
</openbox_config>
"""
_OPENBOX_MENU = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_menu xmlns="http://openbox.org/3.4/menu">
  <menu id="root-menu" label="Openbox"/>
</openbox_menu>
"""

Geometry = collections.namedtuple("Geometry", "x y width height")


class Display:
    """Xvfb on a display number it picks itself (-displayfd), with openbox running on a
    config of its own, so no user setting leaks in."""

    def __init__(self, width=SCREEN[0], height=SCREEN[1]):
        self.size = (width, height)
        self.tmp = Path(tempfile.mkdtemp(prefix="lumetra-x-"))
        self.xvfb = self.wm = None
        try:
            self._start_xvfb(width, height)
            self._start_wm()
        except BaseException:
            self.stop()
            raise

    def _start_xvfb(self, width, height):
        read_fd, write_fd = os.pipe()
        try:
            self.xvfb = _spawn(["Xvfb", "-displayfd", write_fd, "-screen", "0", f"{width}x{height}x24",
                                "-nolisten", "tcp"],
                               env=dict(os.environ), stderr=self.tmp / "xvfb.log",
                               pass_fds=(write_fd,))
            os.close(write_fd)
            write_fd = None
            data = b""
            deadline = time.monotonic() + 30
            while not data.endswith(b"\n"):
                left = deadline - time.monotonic()
                if left <= 0 or self.xvfb.poll() is not None:
                    raise RuntimeError("Xvfb did not report a display: " + _tail(self.tmp / "xvfb.log"))
                if select.select([read_fd], [], [], min(left, 0.5))[0]:
                    chunk = os.read(read_fd, 64)
                    if not chunk:
                        raise RuntimeError("Xvfb closed -displayfd: " + _tail(self.tmp / "xvfb.log"))
                    data += chunk
            self.name = ":" + data.decode().strip()
        finally:
            os.close(read_fd)
            if write_fd is not None:
                os.close(write_fd)

    def _start_wm(self):
        home = self.tmp / "wm-home"
        (home / "config").mkdir(parents=True)
        menu = self.tmp / "menu.xml"
        menu.write_text(_OPENBOX_MENU)
        rc = self.tmp / "rc.xml"
        rc.write_text(_OPENBOX_RC.format(menu=menu))
        env = self.env()
        env.update(HOME=str(home), XDG_CONFIG_HOME=str(home / "config"),
                   XDG_CACHE_HOME=str(home / "cache"), XDG_DATA_HOME=str(home / "data"))
        env.pop("SESSION_MANAGER", None)
        self.wm = _spawn(["openbox", "--sm-disable", "--config-file", rc], env=env,
                         stdout=self.tmp / "openbox.log", stderr=subprocess.STDOUT)

        def wm_up():
            if self.wm.poll() is not None:
                raise RuntimeError("openbox ended: " + _tail(self.tmp / "openbox.log"))
            out = self.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], check=False)
            return "window id #" in out
        if not poll(wm_up, 30, 0.1):
            raise RuntimeError("openbox did not come up: " + _tail(self.tmp / "openbox.log"))

    def env(self):
        """Environment for a client of this display (never the user's own session)."""
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env.pop("WAYLAND_DISPLAY", None)
        return env

    def run(self, argv, check=True, timeout=TOOL_TIMEOUT):
        """Runs an X tool on this display and returns its stdout (UTF-8)."""
        done = subprocess.run([str(a) for a in argv], env=self.env(), stdin=subprocess.DEVNULL,
                              capture_output=True, timeout=timeout)
        if check and done.returncode != 0:
            raise RuntimeError(f"{' '.join(map(str, argv))} failed ({done.returncode}): "
                               + done.stderr.decode(errors="replace"))
        return done.stdout.decode("utf-8", errors="replace")

    def screenshot(self, name, painted=None):
        """Saves the whole screen as artifacts/e2e/NAME.png and returns the path. With
        painted=WIN, first waits a while for WIN to show more than a blank area (a page
        is drawn some time after it has loaded); takes the picture regardless."""
        if painted is not None:
            poll(lambda: self.colours(painted) >= 8, 20, 0.2)
        path = _artifact(name + ".png")
        self.run(["import", "-window", "root", path], timeout=60)
        return path

    def colours(self, win):
        """Number of distinct colours in the window's content (1 while blank)."""
        out = self.run(["import", "-window", win, "-format", "%k", "info:"], check=False, timeout=60)
        return int(out) if out.strip().isdigit() else 0

    # Window queries. Window ids are ints.

    def windows_of(self, pid):
        """Visible (viewable) windows whose _NET_WM_PID is pid."""
        out = self.run(["xdotool", "search", "--onlyvisible", "--pid", pid], check=False)
        return [int(w) for w in out.split()]

    def is_viewable(self, win):
        out = self.run(["xwininfo", "-id", win], check=False)
        return "Map State: IsViewable" in out

    def _cardinals(self, win, prop, fmt="32c"):
        out = self.run(["xprop", "-id", win, "-notype", "-f", prop, fmt, prop], check=False)
        m = re.search(r"=\s*(.*)$", out.strip(), re.S)
        if not m or "not found" in out or "no such atom" in out:
            return None
        return [int(v) for v in m.group(1).replace(",", " ").split()]

    def caption(self, win):
        """_NET_WM_NAME as text. Read as raw bytes (format 8c) so that xprop's
        locale never mangles non-ASCII; None when the property is absent."""
        raw = self._cardinals(win, "_NET_WM_NAME", "8c")
        return None if raw is None else bytes(raw).decode("utf-8", errors="replace")

    def geometry(self, win):
        """Outer geometry of a managed top-level window: the frame the WM draws
        included. Measured as the client's absolute position and size (xwininfo),
        widened by its X border and by the WM's _NET_FRAME_EXTENTS (left, right,
        top, bottom) as published on the client window; no extents counts as none."""
        out = self.run(["xwininfo", "-id", win])

        def field(label):
            return int(re.search(label + r":\s*(-?\d+)", out).group(1))
        x, y = field("Absolute upper-left X"), field("Absolute upper-left Y")
        w, h, bw = field("Width"), field("Height"), field("Border width")
        left, right, top, bottom = self._cardinals(win, "_NET_FRAME_EXTENTS") or (0, 0, 0, 0)
        return Geometry(x - bw - left, y - bw - top, w + 2 * bw + left + right, h + 2 * bw + top + bottom)

    def size_hints(self, win):
        """(min, max) size from WM_NORMAL_HINTS as (w, h) tuples, None where unset."""
        out = self.run(["xprop", "-id", win, "WM_NORMAL_HINTS"], check=False)

        def size(kind):
            m = re.search(kind + r" size: (\d+) by (\d+)", out)
            return (int(m.group(1)), int(m.group(2))) if m else None
        return size("minimum"), size("maximum")

    def active_window(self):
        out = self.run(["xdotool", "getactivewindow"], check=False).strip()
        return int(out) if out.isdigit() else None

    def activate(self, win):
        """Activates through the WM (_NET_ACTIVE_WINDOW) and waits until it is active."""
        self.run(["xdotool", "windowactivate", "--sync", win])

    def key(self, *keys):
        """Types keys through XTEST into whatever has the focus. GTK ignores the
        synthetic events of `xdotool key --window`, so activate the window first."""
        self.run(["xdotool", "key", *keys])

    def close_window(self, win):
        """Asks the WM to close the window (_NET_CLOSE_WINDOW to the root, as a pager
        would): openbox then sends WM_DELETE_WINDOW, the same path as the title bar's
        close button. Unlike `xdotool windowclose` it destroys nothing itself, and
        unlike Alt+F4 it does not depend on the keyboard focus."""
        with _X11(self.name) as x:
            x.send_root_message(win, "_NET_CLOSE_WINDOW", [0, 2, 0, 0, 0])

    def ping(self, win, timeout=30):
        """True when the client answers an EWMH _NET_WM_PING within `timeout`. GTK
        answers from its main loop, so this shows the program is not stuck (an X
        query alone is answered by the X server, whatever the client does)."""
        with _X11(self.name) as x:
            return x.ping(win, timeout)

    def stop(self):
        for proc in (self.wm, self.xvfb):
            if proc is not None:
                _kill_group(proc)
        shutil.rmtree(self.tmp, ignore_errors=True)


class _XClientMessageEvent(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("data", ctypes.c_long * 5)]


class _XEvent(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("xclient", _XClientMessageEvent), ("pad", ctypes.c_long * 24)]


_XErrorHandler = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
# Xlib's default error handler exits the process: a vanished window must not end the run.
_ignore_x_errors = _XErrorHandler(lambda display, error: 0)


class _X11:
    """The two client messages that no command-line tool here sends, through libX11."""
    CLIENT_MESSAGE = 33
    SUBSTRUCTURE_NOTIFY = 1 << 19
    SUBSTRUCTURE_REDIRECT = 1 << 20

    def __init__(self, display_name):
        lib = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
        lib.XOpenDisplay.restype = ctypes.c_void_p
        lib.XOpenDisplay.argtypes = [ctypes.c_char_p]
        lib.XDefaultRootWindow.restype = ctypes.c_ulong
        lib.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        lib.XInternAtom.restype = ctypes.c_ulong
        lib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        lib.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.POINTER(_XEvent)]
        lib.XSelectInput.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_long]
        lib.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        lib.XPending.argtypes = [ctypes.c_void_p]
        lib.XNextEvent.argtypes = [ctypes.c_void_p, ctypes.POINTER(_XEvent)]
        lib.XConnectionNumber.argtypes = [ctypes.c_void_p]
        lib.XCloseDisplay.argtypes = [ctypes.c_void_p]
        lib.XSetErrorHandler(_ignore_x_errors)
        self.lib = lib
        self.dpy = lib.XOpenDisplay(display_name.encode())
        if not self.dpy:
            raise RuntimeError("cannot open display " + display_name)
        self.root = lib.XDefaultRootWindow(self.dpy)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.lib.XCloseDisplay(self.dpy)

    def atom(self, name):
        return self.lib.XInternAtom(self.dpy, name.encode(), 0)

    def _message(self, win, message_type, data):
        ev = _XEvent()
        ev.xclient.type = self.CLIENT_MESSAGE
        ev.xclient.window = win
        ev.xclient.message_type = message_type
        ev.xclient.format = 32
        for i, value in enumerate(data):
            ev.xclient.data[i] = value
        return ev

    def send_root_message(self, win, name, data):
        ev = self._message(win, self.atom(name), data)
        self.lib.XSendEvent(self.dpy, self.root, 0, self.SUBSTRUCTURE_NOTIFY | self.SUBSTRUCTURE_REDIRECT,
                            ctypes.byref(ev))
        self.lib.XSync(self.dpy, 0)

    def ping(self, win, timeout):
        protocols, ping = self.atom("WM_PROTOCOLS"), self.atom("_NET_WM_PING")
        stamp = int(time.time() * 1000) & 0x7FFFFFFF
        # The answer goes to the root with SubstructureNotify|Redirect; only the WM may
        # select Redirect, but SubstructureNotify alone receives it as well.
        self.lib.XSelectInput(self.dpy, self.root, self.SUBSTRUCTURE_NOTIFY)
        ev = self._message(win, protocols, [ping, stamp, win, 0, 0])
        self.lib.XSendEvent(self.dpy, win, 0, 0, ctypes.byref(ev))
        self.lib.XSync(self.dpy, 0)
        fd = self.lib.XConnectionNumber(self.dpy)
        deadline = time.monotonic() + timeout
        reply = _XEvent()
        while True:
            while self.lib.XPending(self.dpy):
                self.lib.XNextEvent(self.dpy, ctypes.byref(reply))
                c = reply.xclient
                if (reply.type == self.CLIENT_MESSAGE and c.message_type == protocols
                        and c.data[0] == ping and c.data[1] == stamp):
                    return True
            left = deadline - time.monotonic()
            if left <= 0:
                return False
            select.select([fd], [], [], min(left, 0.5))


# -- application server -----------------------------------------------------------

_no_proxy = urllib.request.build_opener(urllib.request.ProxyHandler({}))


class AppServer:
    """server/appserver.py on a free port, with its access log kept for failure messages."""

    def __init__(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="lumetra-server-"))
        port_file = self.tmp / "port"
        self.log = self.tmp / "access.log"
        self.proc = _spawn([sys.executable, SERVER_SCRIPT, "--port", "0", "--port-file", port_file,
                            "--log", self.log], env=dict(os.environ),
                           stdout=self.tmp / "stdout", stderr=subprocess.STDOUT)

        def port_written():
            if self.proc.poll() is not None:
                raise RuntimeError("appserver ended: " + _tail(self.tmp / "stdout"))
            return port_file.exists()
        if not poll(port_written, 30):
            self.stop()
            raise RuntimeError("appserver wrote no port file")
        self.port = int(port_file.read_text().strip())
        self.base = f"http://127.0.0.1:{self.port}"

    def url(self, path):
        return self.base + path

    def _get(self, path, timeout=30, data=None):
        try:
            with _no_proxy.open(urllib.request.Request(self.url(path), data=data), timeout=timeout) as r:
                return json.loads(r.read().decode("utf-8"))
        except urllib.error.HTTPError as e:
            if e.code == 404:
                return None
            raise

    def report(self, data):
        """Posts a report as a page would: tests use it to send pages commands."""
        request = urllib.request.Request(self.url("/_test/report"), data=json.dumps(data).encode(),
                                         headers={"Content-Type": "application/json"})
        with _no_proxy.open(request, timeout=30):
            pass

    def requests(self):
        """Requests seen since the last reset: method, path, status, user_agent, ..."""
        return self._get("/_test/requests")

    def wait_request(self, path, timeout=EVENT_TIMEOUT):
        """The requests for PATH (query ignored), once there is one; fails after `timeout`."""
        q = urllib.parse.urlencode({"wait": path, "timeout": timeout})
        hits = self._get("/_test/requests?" + q, timeout=timeout + 30)
        if hits is None:
            raise AssertionError(f"no request for {path} within {timeout} s; requests seen: "
                                 + json.dumps(self.requests(), ensure_ascii=False))
        return hits

    def wait_report(self, name, timeout=EVENT_TIMEOUT):
        """The reports named NAME posted by pages, once there is one; fails after `timeout`."""
        q = urllib.parse.urlencode({"wait": name, "timeout": timeout})
        hits = self._get("/_test/reports?" + q, timeout=timeout + 30)
        if hits is None:
            raise AssertionError(f"no report {name!r} within {timeout} s; reports: "
                                 + json.dumps(self._get("/_test/reports"), ensure_ascii=False))
        return hits

    def reset(self):
        self._get("/_test/reset", data=b"")

    def stop(self):
        _kill_group(self.proc)
        shutil.rmtree(self.tmp, ignore_errors=True)


class SilentServer:
    """A listening socket that accepts connections and never answers them."""

    def __init__(self):
        self.sock = socket.socket()
        self.sock.bind(("127.0.0.1", 0))
        self.sock.listen(16)
        self.port = self.sock.getsockname()[1]
        self.accepted = threading.Event()
        self._held = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
            except OSError:
                return
            self._held.append(conn)
            self.accepted.set()

    def stop(self):
        self.sock.close()
        for conn in self._held:
            conn.close()


# -- the program --------------------------------------------------------------------

def encode_value(text):
    """A Corvane.ini value: Base64 of the text's GBK bytes."""
    return base64.b64encode(text.encode("gbk")).decode("ascii")


def complete_ini(port, **overrides):
    """Values of a complete [general] section for a server on 127.0.0.1:port.
    An override of None leaves the key out."""
    values = {"Version": "1.2.0.0", "ServerURL": "127.0.0.1", "ServerPort": str(port),
              "LoginPageURI": LOGIN_PAGE, "IndexPageURI": INDEX_PAGE,
              "LogoutPageURI": LOGOUT_PAGE, "skin": ""}
    values.update(overrides)
    return {k: v for k, v in values.items() if v is not None}


def login_url(port, server="127.0.0.1"):
    return f"http://{server}:{port}{LOGIN_PAGE}"


def require_program():
    if not (DIST / EXECUTABLE).is_file():
        raise unittest.SkipTest(f"{DIST / EXECUTABLE} not built yet (cmake -S . -B build && cmake --build build)")


class Program:
    """One start of the program from a private copy of the program folder.

    Pass `same_as=other` for another start of the same installation by the same user:
    it shares the folder and the XDG/HOME folders (hence the single-instance lock) but
    has its own events file and output logs."""

    def __init__(self, display, name="program", same_as=None, dist=DIST):
        self.display = display
        self.name = re.sub(r"[^\w.-]+", "_", name)
        self.proc = None
        self._stopped = False
        if same_as is None:
            self.root = Path(tempfile.mkdtemp(prefix="lumetra-prog-"))
            self._owns_root = True
            self.folder = self.root / "program"
            shutil.copytree(dist, self.folder, symlinks=True)
            self.home = self.root / "home"
            self.runtime_dir = self.root / "runtime"
            for d in (self.home, self.runtime_dir):
                d.mkdir()
            self.runtime_dir.chmod(0o700)
            self._start_index = 0
        else:
            self.root, self.folder = same_as.root, same_as.folder
            self.home, self.runtime_dir = same_as.home, same_as.runtime_dir
            self._owns_root = False
            same_as._start_index += 1
            self._start_index = same_as._start_index
        stem = f"start{self._start_index}"
        self.events_path = self.root / f"{stem}.events.jsonl"
        self.stdout_path = self.root / f"{stem}.stdout"
        self.stderr_path = self.root / f"{stem}.stderr"
        self.executable = self.folder / EXECUTABLE

    # Configuration file

    @property
    def ini_path(self):
        return self.folder / "Corvane.ini"

    def write_ini(self, values, section="general"):
        """Writes Corvane.ini from a dict of plain texts, each stored encoded."""
        lines = [f"[{section}]"] + [f"{k}={encode_value(v)}" for k, v in values.items()]
        self.ini_path.write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))

    def remove_ini(self):
        self.ini_path.unlink(missing_ok=True)

    # Running

    def env(self):
        env = self.display.env()
        for var in ("http_proxy", "https_proxy", "all_proxy", "no_proxy",
                    "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY"):
            env.pop(var, None)
        env.update(HOME=str(self.home), XDG_RUNTIME_DIR=str(self.runtime_dir),
                   XDG_DATA_HOME=str(self.home / ".local" / "share"),
                   XDG_CONFIG_HOME=str(self.home / ".config"),
                   XDG_CACHE_HOME=str(self.home / ".cache"),
                   LUMETRA_TEST_EVENTS=str(self.events_path))
        return env

    def start(self):
        assert self.proc is None, "already started"
        # The working folder is not the program folder: the program must find its files itself.
        self.proc = _spawn([self.executable], env=self.env(), cwd=self.home,
                           stdout=self.stdout_path, stderr=self.stderr_path)
        return self

    @property
    def pid(self):
        return self.proc.pid

    def running(self):
        return self.proc is not None and self.proc.poll() is None

    def wait_exit(self, timeout=EXIT_TIMEOUT):
        """Exit code of the program, once it has ended on its own."""
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"program still running after {timeout} s\n" + self.describe()) from None

    def kill(self):
        """SIGKILL to the program's own process only, as a user's `kill -9` would;
        returns once it has been reaped."""
        self.proc.kill()
        return self.proc.wait()

    def stop(self):
        """Ends the program's whole process group and keeps its logs under artifacts/."""
        if self._stopped:
            return
        self._stopped = True
        if self.proc is not None:
            _kill_group(self.proc, grace=2)
            logs = _artifact("logs") / self.name
            shutil.rmtree(logs, ignore_errors=True)
            logs.mkdir(parents=True)
            for path in (self.events_path, self.stdout_path, self.stderr_path):
                if path.exists():
                    shutil.copyfile(path, logs / path.name)
        if self._owns_root:
            shutil.rmtree(self.root, ignore_errors=True)

    # Events written by the program's test hook

    def events(self):
        """Complete lines of the events file so far; a line that is not JSON shows up
        as {"event": "?", "raw": line} rather than vanishing."""
        try:
            data = self.events_path.read_bytes()
        except FileNotFoundError:
            return []
        result = []
        for line in data.split(b"\n")[:-1]:
            text = line.decode("utf-8", errors="replace")
            if not text.strip():
                continue
            try:
                result.append(json.loads(text))
            except ValueError:
                result.append({"event": "?", "raw": text})
        return result

    def wait_event(self, pred, timeout=EVENT_TIMEOUT):
        """First event for which pred(event) is true, or whose items include all of
        pred's if pred is a dict. Fails at once if the program ends without one."""
        if isinstance(pred, dict):
            want = pred
            pred = lambda e: all(e.get(k) == v for k, v in want.items())
        deadline = time.monotonic() + timeout
        while True:
            ended = not self.running()
            for event in self.events():
                if pred(event):
                    return event
            if ended or time.monotonic() >= deadline:
                why = "program ended" if ended else f"no such event within {timeout} s"
                raise AssertionError(f"{why}\n" + self.describe())
            time.sleep(0.05)

    # Windows

    def windows(self):
        """The program's visible top-level windows."""
        return self.display.windows_of(self.pid)

    def main_window(self, timeout=FIRST_WINDOW_TIMEOUT):
        """The program's one visible window, once it is there."""
        found = poll(lambda: self.windows() or (not self.running() and "ended"), timeout, 0.1)
        if not found or found == "ended":
            raise AssertionError(f"no visible window within {timeout} s\n" + self.describe())
        if len(found) > 1:
            raise AssertionError(f"expected one visible window, found {len(found)}\n" + self.describe())
        return found[0]

    def wait_window(self, title, timeout=FIRST_WINDOW_TIMEOUT):
        """A visible window of the program whose caption is `title`."""
        def find():
            for win in self.windows():
                if self.caption(win) == title:
                    return win
            return None
        win = poll(find, timeout, 0.1)
        if win is None:
            raise AssertionError(f"no window titled {title!r} within {timeout} s\n" + self.describe())
        return win

    def caption(self, win):
        return self.display.caption(win)

    def geometry(self, win):
        return self.display.geometry(win)

    def press_return_on(self, title, timeout=EVENT_TIMEOUT):
        """Answers the message box titled `title` with Return: activates it through the
        WM, then types Return via XTEST. Types again only if the box is still there
        after a long wait (a key that raced the focus change)."""
        win = self.wait_window(title, timeout)
        deadline = time.monotonic() + timeout
        while True:
            try:
                self.display.activate(win)
                self.display.key("Return")
            except (RuntimeError, subprocess.TimeoutExpired):
                pass  # the box may go away while we act on it
            if poll(lambda: not self.display.is_viewable(win), 15, 0.1):
                return
            if time.monotonic() >= deadline:
                raise AssertionError(f"message box {title!r} did not close on Return\n" + self.describe())

    def close_window(self, win):
        self.display.close_window(win)

    def responds(self, win, timeout=30):
        return self.display.ping(win, timeout)

    def screenshot(self, name, painted=None):
        return self.display.screenshot(name, painted)

    def describe(self):
        """What a failure message needs: state, windows, events, stderr."""
        lines = [f"program {self.executable} pid {self.pid}: "
                 + ("running" if self.running() else f"ended with {self.proc.returncode}")]
        if self.running():
            for win in self.windows():
                try:
                    lines.append(f"  window {win:#x} {self.caption(win)!r} {tuple(self.geometry(win))}")
                except (RuntimeError, AttributeError):
                    lines.append(f"  window {win:#x} (gone)")
        lines.append("events:")
        lines += ["  " + json.dumps(e, ensure_ascii=False) for e in self.events()[-30:]]
        lines.append("stderr: " + _tail(self.stderr_path, 3000))
        return "\n".join(lines)


# -- test case base ------------------------------------------------------------------

_shared = None


def shared():
    """The display and application server that all tests of this process share,
    started on first use and stopped when the process ends."""
    global _shared
    if _shared is None:
        display = Display()
        try:
            server = AppServer()
        except BaseException:
            display.stop()
            raise
        _shared = (display, server)
        atexit.register(server.stop)
        atexit.register(display.stop)
    return _shared


class ProgramTestCase(unittest.TestCase):
    """Base for tests of the real program: shared display and server, a fresh
    server log per test, and every started program stopped after its test."""

    @classmethod
    def setUpClass(cls):
        require_program()
        cls.display, cls.server = shared()

    def setUp(self):
        self.server.reset()

    def program(self, name=None, same_as=None):
        """A new (not yet started) program; named after the test for its logs."""
        label = self.id().split(".", 1)[-1] + (f".{name}" if name else "")
        prog = Program(self.display, label, same_as=same_as)
        self.addCleanup(prog.stop)
        return prog

    def start_program(self, ini=None, name=None):
        """Starts a program whose Corvane.ini holds `ini` (default: complete for the
        shared server)."""
        prog = self.program(name)
        prog.write_ini(complete_ini(self.server.port) if ini is None else ini)
        return prog.start()
