"""A desktop session manager of our own on a private session bus, for the program's
part in a log-off.

SessionBus          a dbus-daemon of its own: no service activation, so nothing else
                    starts on it; ended with its process group.
FakeSessionManager  the session manager on that bus, run as a child process by a
                    Python that has PyGObject (the test's own interpreter may lack it).
                    Every method call that reaches it is recorded in arrival order;
                    the test reads the records and has it emit the client signals.

The child speaks JSON lines: the test writes {"emit": NAME, "args": [...]} to its
stdin; it writes {"ready": ...}, {"call": MEMBER, ...} and {"emitted": NAME, ...} to
its stdout. It ends when its stdin closes or the bus goes away.

The test side needs the standard library only.
"""

import atexit
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
from pathlib import Path

SM_NAME = "org.gnome.SessionManager"
SM_PATH = "/org/gnome/SessionManager"
CLIENT_IFACE = "org.gnome.SessionManager.ClientPrivate"
CLIENT_PATH = SM_PATH + "/Client"

# Signatures as a session manager publishes them; the client signals carry these args.
INTROSPECTION = """
<node>
  <interface name="org.gnome.SessionManager">
    <method name="RegisterClient">
      <arg type="s" name="app_id" direction="in"/>
      <arg type="s" name="client_startup_id" direction="in"/>
      <arg type="o" name="client_id" direction="out"/>
    </method>
    <method name="UnregisterClient">
      <arg type="o" name="client_id" direction="in"/>
    </method>
    <method name="Inhibit">
      <arg type="s" name="app_id" direction="in"/>
      <arg type="u" name="toplevel_xid" direction="in"/>
      <arg type="s" name="reason" direction="in"/>
      <arg type="u" name="flags" direction="in"/>
      <arg type="u" name="inhibit_cookie" direction="out"/>
    </method>
    <method name="Uninhibit">
      <arg type="u" name="inhibit_cookie" direction="in"/>
    </method>
    <method name="IsInhibited">
      <arg type="u" name="flags" direction="in"/>
      <arg type="b" name="is_inhibited" direction="out"/>
    </method>
  </interface>
</node>
"""
CLIENT_INTROSPECTION = """
<node>
  <interface name="org.gnome.SessionManager.ClientPrivate">
    <method name="EndSessionResponse">
      <arg type="b" name="is_ok" direction="in"/>
      <arg type="s" name="reason" direction="in"/>
    </method>
    <signal name="Stop"/>
    <signal name="QueryEndSession"><arg type="u" name="flags"/></signal>
    <signal name="EndSession"><arg type="u" name="flags"/></signal>
    <signal name="CancelEndSession"/>
  </interface>
</node>
"""
SIGNAL_SIGNATURES = {"Stop": "()", "QueryEndSession": "(u)", "EndSession": "(u)", "CancelEndSession": "()"}
FIRST_COOKIE = 7001  # far from 0 and 1, so that a made-up cookie stands out

_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

START_TIMEOUT = 30
WAIT_TIMEOUT = 60


# -- the service (child process, needs PyGObject) ---------------------------------

def serve(address):
    import gi
    gi.require_version("Gio", "2.0")
    from gi.repository import Gio, GLib

    out_lock = threading.Lock()

    def say(record):
        with out_lock:
            sys.stdout.write(json.dumps(record, ensure_ascii=False) + "\n")
            sys.stdout.flush()

    conn = Gio.DBusConnection.new_for_address_sync(
        address, Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)
    loop = GLib.MainLoop()
    clients = {}  # object path -> registration id
    cookies = iter(range(FIRST_COOKIE, FIRST_COOKIE + 1000000))

    # Recorded here rather than in the handlers: the filter sees every call, also those
    # to members or objects the fake does not have, in the order they arrived.
    def record(connection, message, incoming):
        if incoming and message.get_message_type() == Gio.DBusMessageType.METHOD_CALL \
                and message.get_interface() != "org.freedesktop.DBus.Peer":
            body = message.get_body()
            say({"call": message.get_member(), "interface": message.get_interface(),
                 "path": message.get_path(), "signature": message.get_signature(),
                 "sender": message.get_sender(), "args": body.unpack() if body is not None else [],
                 "time": time.monotonic()})
        return message
    conn.add_filter(record)

    client_info = Gio.DBusNodeInfo.new_for_xml(CLIENT_INTROSPECTION).interfaces[0]

    def on_client_call(connection, sender, path, iface, method, params, invocation):
        invocation.return_value(None)

    def on_sm_call(connection, sender, path, iface, method, params, invocation):
        if method == "RegisterClient":
            client = f"{CLIENT_PATH}{len(clients) + 1}"
            clients[client] = connection.register_object(client, client_info, on_client_call, None, None)
            say({"returned": method, "value": client})
            invocation.return_value(GLib.Variant("(o)", (client,)))
        elif method == "UnregisterClient":
            reg = clients.pop(params.unpack()[0], None)
            if reg is not None:
                connection.unregister_object(reg)
            invocation.return_value(None)
        elif method == "Inhibit":
            cookie = next(cookies)
            say({"returned": method, "value": cookie})
            invocation.return_value(GLib.Variant("(u)", (cookie,)))
        elif method == "IsInhibited":
            invocation.return_value(GLib.Variant("(b)", (False,)))
        else:
            invocation.return_value(None)

    sm_info = Gio.DBusNodeInfo.new_for_xml(INTROSPECTION).interfaces[0]
    conn.register_object(SM_PATH, sm_info, on_sm_call, None, None)
    owned = conn.call_sync("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                           "RequestName", GLib.Variant("(su)", (SM_NAME, 4)),  # DO_NOT_QUEUE
                           GLib.VariantType("(u)"), Gio.DBusCallFlags.NONE, -1, None).unpack()[0]
    if owned != 1:
        say({"error": f"RequestName answered {owned}"})
        return 1

    def command(line):
        try:
            cmd = json.loads(line)
            name, args = cmd["emit"], cmd.get("args", [])
            params = GLib.Variant(SIGNAL_SIGNATURES[name], tuple(args))
            paths = sorted(clients)
            for path in paths:
                conn.emit_signal(None, path, CLIENT_IFACE, name, params)
            conn.flush_sync(None)
            say({"emitted": name, "args": args, "paths": paths, "time": time.monotonic()})
        except Exception as e:  # a bad command is the test's fault: tell it, keep serving
            say({"error": f"{type(e).__name__}: {e}", "line": line})
        return False

    def read_commands():
        for line in sys.stdin:
            if line.strip():
                GLib.idle_add(command, line)
        GLib.idle_add(loop.quit)
    threading.Thread(target=read_commands, daemon=True).start()
    conn.connect("closed", lambda *a: loop.quit())

    say({"ready": conn.get_unique_name()})
    loop.run()
    return 0


# -- the test side (standard library only) ------------------------------------------

def _python_with_gi():
    """An interpreter that can import Gio: this one, or the system's (where the
    distribution's python3-gi lives when a private Python runs the tests)."""
    for candidate in (sys.executable, "/usr/bin/python3"):
        if candidate and os.path.exists(candidate) and subprocess.run(
                [candidate, "-c", "import gi; gi.require_version('Gio', '2.0'); from gi.repository import Gio"],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=60).returncode == 0:
            return candidate
    raise RuntimeError("no Python with PyGObject (Gio) found: run scripts/deps.sh test")


_live = set()


def _spawn(argv, **kwargs):
    proc = subprocess.Popen(argv, start_new_session=True, **kwargs)
    _live.add(proc)
    return proc


def _kill_group(proc):
    if proc is None:
        return
    _live.discard(proc)
    try:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(timeout=5)
    except (ProcessLookupError, subprocess.TimeoutExpired):
        pass
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


@atexit.register
def _kill_leftovers():
    for proc in list(_live):
        _kill_group(proc)


class SessionBus:
    """A private session bus in a folder of its own."""

    def __init__(self):
        self.tmp = Path(tempfile.mkdtemp(prefix="lumetra-bus-"))
        self.proc = None
        config = self.tmp / "bus.conf"
        config.write_text(_BUS_CONFIG.format(socket=self.tmp / "socket"))
        self.log = self.tmp / "dbus-daemon.log"
        out = self.tmp / "address"
        with open(out, "wb") as stdout, open(self.log, "wb") as stderr:
            self.proc = _spawn(["dbus-daemon", f"--config-file={config}", "--nofork", "--print-address=1"],
                               stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr)
        deadline = time.monotonic() + START_TIMEOUT
        while not out.read_bytes().endswith(b"\n"):
            if self.proc.poll() is not None or time.monotonic() > deadline:
                why = self.log.read_text(errors="replace")
                self.stop()
                raise RuntimeError("dbus-daemon printed no address: " + why)
            time.sleep(0.05)
        self.address = out.read_text().strip()

    def stop(self):
        _kill_group(self.proc)
        self.proc = None
        shutil.rmtree(self.tmp, ignore_errors=True)


class FakeSessionManager:
    """The session manager (child process) on `bus`; its records accumulate in
    self.records, and all it wrote is kept in self.log_path."""

    def __init__(self, bus, log_path):
        self.bus = bus
        self.log_path = Path(log_path)
        self.records = []
        self._cond = threading.Condition()
        self._log = open(self.log_path, "w", encoding="utf-8")
        self.proc = _spawn([_python_with_gi(), "-u", __file__, bus.address],
                           stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        ready = self.wait(lambda r: "ready" in r or "error" in r, START_TIMEOUT, "ready")
        if "error" in ready:
            self.stop()
            raise RuntimeError("fake session manager: " + ready["error"])

    def _read(self):
        for raw in self.proc.stdout:
            line = raw.decode("utf-8", errors="replace")
            self._log.write(line)
            self._log.flush()
            try:
                record = json.loads(line)
            except ValueError:
                record = {"raw": line.rstrip("\n")}  # a traceback, say
            with self._cond:
                record["seq"] = len(self.records)
                self.records.append(record)
                self._cond.notify_all()
        with self._cond:
            self.records.append({"ended": True})
            self._cond.notify_all()

    def describe(self):
        with self._cond:
            return "session manager saw:\n" + "\n".join("  " + json.dumps(r, ensure_ascii=False)
                                                        for r in self.records[-40:])

    def calls(self, member=None, since=0):
        """The method calls received from record `since` on, optionally of one member."""
        with self._cond:
            return [r for r in self.records[since:] if "call" in r and (member is None or r["call"] == member)]

    def mark(self):
        """The index of the next record, for `since`."""
        with self._cond:
            return len(self.records)

    def wait(self, pred, timeout=WAIT_TIMEOUT, what=None, since=0):
        """The first record from `since` on that satisfies pred; fails after `timeout`
        or when the service has ended without one."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                for record in self.records[since:]:
                    if pred(record):
                        return record
                left = deadline - time.monotonic()
                if left <= 0 or (self.records and "ended" in self.records[-1]):
                    break
                self._cond.wait(left)
        raise AssertionError(f"no {what or 'such record'} within {timeout} s\n" + self.describe())

    def wait_call(self, member, since=0, timeout=WAIT_TIMEOUT):
        return self.wait(lambda r: r.get("call") == member, timeout, f"call of {member}", since)

    def emit(self, name, *args):
        """Emits a ClientPrivate signal on every registered client; returns once it is
        on the bus, with the record index from which the answers count."""
        since = self.mark()
        self.proc.stdin.write((json.dumps({"emit": name, "args": list(args)}) + "\n").encode())
        self.proc.stdin.flush()
        done = self.wait(lambda r: r.get("emitted") == name or "error" in r, START_TIMEOUT,
                         f"emission of {name}", since)
        if "error" in done or not done["paths"]:
            raise AssertionError(f"{name} not emitted: {done}\n" + self.describe())
        return since

    def stop(self):
        if self.proc is not None:
            try:
                self.proc.stdin.close()
            except OSError:
                pass
            _kill_group(self.proc)
            self._reader.join(5)
            self.proc.stdout.close()
            self.proc = None
        self._log.close()


if __name__ == "__main__":
    sys.exit(serve(sys.argv[1]))
