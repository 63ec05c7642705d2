#!/usr/bin/env python3
"""Start-up of the program against a bare WebKitGTK window, in the same run.

For each start: the time from exec to the login page's load finished, and the peak
memory of the whole process tree (the UI process and its WebKit children) in the
second after it, as PSS (from /proc/PID/smaps_rollup) and RSS sums. Starts alternate
between the two, after one discarded warm-up start of each, on one private Xvfb
screen with openbox and one bundled application server.

    python3 bench/startup/startup_bench.py [--runs N] [--dist DIR] [--bare PATH]

Every start is also written, with the moments its events were seen, to --log
(a JSON line per start). Standard library only.
"""

import argparse
import base64
import json
import os
import select
import shutil
import signal
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request
from pathlib import Path

REPO = Path(__file__).resolve().parents[2]
LOGIN_PAGE = "/tavreq/login/init.html"
INDEX_PAGE = "/tavreq/login/home.html"
LOGOUT_PAGE = "/tavreq/login/Logout.html"
LOAD_TIMEOUT = 60.0
AFTER_LOAD = 1.0       # memory is watched this long after the load finished
SAMPLE_EVERY = 0.05
POLL_EVERY = 0.005     # the events file; bounds the error of the start-up time
SCREEN = "1280x1024x24"

OPENBOX_RC = """<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <placement><policy>Smart</policy></placement>
  <focus><focusNew>yes</focusNew></focus>
  <desktops><number>1</number></desktops>
</openbox_config>
"""

_started = []  # every process group we started, for the last-resort cleanup


def spawn(argv, env, cwd=None, stdout=None, stderr=None, pass_fds=()):
    proc = subprocess.Popen([str(a) for a in argv], env=env, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=stdout or subprocess.DEVNULL, stderr=stderr or subprocess.DEVNULL,
                            pass_fds=pass_fds, start_new_session=True)
    _started.append(proc)
    return proc


def kill_group(proc):
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass
    proc.wait()


def cleanup():
    for proc in reversed(_started):
        kill_group(proc)


def tail(path, limit=3000):
    try:
        data = Path(path).read_bytes()
    except OSError:
        return ""
    return data[-limit:].decode("utf-8", errors="replace")


# -- /proc ------------------------------------------------------------------------

def proc_table():
    """pid -> (ppid, pgid, comm) of every process."""
    table = {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            raw = Path(f"/proc/{entry}/stat").read_bytes().decode(errors="replace")
        except OSError:
            continue
        close = raw.rfind(")")
        fields = raw[close + 2:].split()
        if fields[0] == "Z":
            continue
        table[int(entry)] = (int(fields[1]), int(fields[2]), raw[raw.find("(") + 1:close])
    return table


def tree_of(root, table):
    """The root, its descendants, and anything still in its process group (children
    orphaned when the root ended)."""
    children = {}
    for pid, (ppid, _, _) in table.items():
        children.setdefault(ppid, []).append(pid)
    found, todo = set(), [root]
    while todo:
        pid = todo.pop()
        if pid in found or pid not in table:
            continue
        found.add(pid)
        todo.extend(children.get(pid, ()))
    found.update(pid for pid, (_, pgid, _) in table.items() if pgid == root)
    return found


def memory_kib(pid):
    """(PSS, RSS) in KiB; PSS is None where smaps_rollup cannot be read."""
    try:
        text = Path(f"/proc/{pid}/smaps_rollup").read_text()
        values = {}
        for line in text.splitlines()[1:]:
            key, _, rest = line.partition(":")
            if key in ("Rss", "Pss"):
                values[key] = int(rest.split()[0])
        if "Rss" in values and "Pss" in values:
            return values["Pss"], values["Rss"]
    except (OSError, ValueError, IndexError):
        pass
    try:
        for line in Path(f"/proc/{pid}/status").read_text().splitlines():
            if line.startswith("VmRSS:"):
                return None, int(line.split()[1])
    except OSError:
        pass
    return None, 0


def cpu_seconds(root, pids, table):
    """User plus system time so far, by process name ("ui" for the root)."""
    ticks = os.sysconf("SC_CLK_TCK")
    out = {}
    for pid in pids:
        try:
            raw = Path(f"/proc/{pid}/stat").read_bytes().decode(errors="replace")
            fields = raw[raw.rfind(")") + 2:].split()
            name = "ui" if pid == root else table[pid][2]
            out[name] = out.get(name, 0) + (int(fields[11]) + int(fields[12])) / ticks
        except (OSError, IndexError, ValueError):
            pass
    return out


def cpu_pressure():
    """Share of the last ten seconds some task waited for a CPU, in percent."""
    try:
        line = Path("/proc/pressure/cpu").read_text().splitlines()[0]
        return float(line.split("avg10=")[1].split()[0])
    except (OSError, IndexError, ValueError):
        return None


# -- display and server -------------------------------------------------------------

class Display:
    def __init__(self, tmp):
        read_fd, write_fd = os.pipe()
        self.xvfb = spawn(["Xvfb", "-displayfd", write_fd, "-screen", "0", SCREEN, "-nolisten", "tcp"],
                          env=dict(os.environ), stderr=open(tmp / "xvfb.log", "wb"), pass_fds=(write_fd,))
        os.close(write_fd)
        data, deadline = b"", time.monotonic() + 30
        try:
            while not data.endswith(b"\n"):
                if time.monotonic() > deadline or self.xvfb.poll() is not None:
                    raise RuntimeError("Xvfb did not start: " + tail(tmp / "xvfb.log"))
                if select.select([read_fd], [], [], 0.5)[0]:
                    chunk = os.read(read_fd, 64)
                    if not chunk:
                        raise RuntimeError("Xvfb closed -displayfd: " + tail(tmp / "xvfb.log"))
                    data += chunk
        finally:
            os.close(read_fd)
        self.name = ":" + data.decode().strip()

        home = tmp / "wm-home"
        home.mkdir()
        (tmp / "rc.xml").write_text(OPENBOX_RC)
        env = self.env()
        env.update(HOME=str(home), XDG_CONFIG_HOME=str(home / "config"), XDG_CACHE_HOME=str(home / "cache"),
                   XDG_DATA_HOME=str(home / "data"))
        self.wm = spawn(["openbox", "--sm-disable", "--config-file", tmp / "rc.xml"], env=env,
                        stdout=open(tmp / "openbox.log", "wb"), stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while True:
            out = subprocess.run(["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], env=self.env(),
                                 capture_output=True, text=True).stdout
            if "window id #" in out:
                break
            if time.monotonic() > deadline or self.wm.poll() is not None:
                raise RuntimeError("openbox did not start: " + tail(tmp / "openbox.log"))
            time.sleep(0.1)

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.name
        env.pop("WAYLAND_DISPLAY", None)
        for var in ("http_proxy", "https_proxy", "all_proxy", "no_proxy",
                    "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY", "NO_PROXY", "LUMETRA_TEST_EVENTS"):
            env.pop(var, None)
        return env


class Server:
    def __init__(self, tmp):
        port_file = tmp / "port"
        self.proc = spawn([sys.executable, REPO / "server" / "appserver.py", "--port", "0",
                           "--port-file", port_file, "--log", tmp / "requests.log"],
                          env=dict(os.environ), stderr=open(tmp / "server.log", "wb"))
        deadline = time.monotonic() + 30
        while not port_file.exists():
            if time.monotonic() > deadline or self.proc.poll() is not None:
                raise RuntimeError("application server did not start: " + tail(tmp / "server.log"))
            time.sleep(0.05)
        self.port = int(port_file.read_text().strip())
        self.login_url = f"http://127.0.0.1:{self.port}{LOGIN_PAGE}"
        with urllib.request.urlopen(self.login_url, timeout=10) as answer:
            answer.read()

    def requests(self):
        with urllib.request.urlopen(f"http://127.0.0.1:{self.port}/_test/requests", timeout=10) as answer:
            return json.load(answer)


# -- one start ----------------------------------------------------------------------

def ini_bytes(port):
    values = {"Version": "1.2.0.0", "ServerURL": "127.0.0.1", "ServerPort": str(port),
              "LoginPageURI": LOGIN_PAGE, "IndexPageURI": INDEX_PAGE, "LogoutPageURI": LOGOUT_PAGE,
              "skin": ""}
    lines = ["[general]"] + [f"{k}={base64.b64encode(v.encode('gbk')).decode('ascii')}"
                             for k, v in values.items()]
    return ("\r\n".join(lines) + "\r\n").encode("ascii")


def start_once(kind, args, display, server, keep_dir):
    root = Path(tempfile.mkdtemp(prefix=f"lumetra-startup-{kind}-"))
    home, runtime, events = root / "home", root / "runtime", root / "events.jsonl"
    home.mkdir()
    runtime.mkdir(mode=0o700)
    env = display.env()
    env.update(HOME=str(home), XDG_RUNTIME_DIR=str(runtime), XDG_DATA_HOME=str(home / ".local" / "share"),
               XDG_CONFIG_HOME=str(home / ".config"), XDG_CACHE_HOME=str(home / ".cache"))
    if kind == "program":
        folder = root / "program"
        shutil.copytree(args.dist, folder, symlinks=True)
        (folder / "Corvane.ini").write_bytes(ini_bytes(server.port))
        env["LUMETRA_TEST_EVENTS"] = str(events)
        argv = [folder / "lumetra"]
    else:
        argv = [args.bare, server.login_url, events]
    seen_seq = max((r["seq"] for r in server.requests()), default=0)

    result = {"kind": kind, "events": [], "ok": False, "cpu_pressure": cpu_pressure()}
    wall0 = time.time()
    t0 = time.monotonic()
    try:
        with open(root / "stdout", "wb") as out, open(root / "stderr", "wb") as err:
            proc = spawn(argv, env=env, cwd=home, stdout=out, stderr=err)
    except OSError:
        shutil.rmtree(root, ignore_errors=True)
        raise
    try:
        offset, pending, loaded_at = 0, b"", None
        while loaded_at is None:
            now = time.monotonic()
            try:
                with open(events, "rb") as f:
                    f.seek(offset)
                    chunk = f.read()
            except FileNotFoundError:
                chunk = b""
            offset += len(chunk)
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in lines:
                try:
                    event = json.loads(line)
                except ValueError:
                    continue
                event["seen_ms"] = round((now - t0) * 1000, 1)
                result["events"].append(event)
                if event.get("event") == "loaded" and str(event.get("uri", "")).endswith(LOGIN_PAGE):
                    loaded_at = now
            if loaded_at is not None:
                break
            if proc.poll() is not None:
                result["error"] = f"ended with {proc.returncode} before the login page loaded"
                return result
            if now - t0 > LOAD_TIMEOUT:
                result["error"] = f"no load of the login page in {LOAD_TIMEOUT:.0f} s"
                return result
            time.sleep(POLL_EVERY)
        result["load_ms"] = (loaded_at - t0) * 1000
        table = proc_table()
        pids = tree_of(proc.pid, table)
        result["cpu_s_by_process"] = cpu_seconds(proc.pid, pids, table)
        result["cpu_s_at_load"] = sum(result["cpu_s_by_process"].values())

        peak_pss = peak_rss = 0
        breakdown, pss_known = {}, True
        next_sample = time.monotonic()
        while next_sample < loaded_at + AFTER_LOAD:
            table = proc_table()
            pss_sum = rss_sum = 0
            per = {}
            for pid in tree_of(proc.pid, table):
                pss, rss = memory_kib(pid)
                pss_known &= pss is not None
                name = "ui" if pid == proc.pid else table[pid][2]
                per[name] = per.get(name, 0) + (pss if pss is not None else rss)
                pss_sum += pss or 0
                rss_sum += rss
            if pss_sum > peak_pss:
                peak_pss, breakdown = pss_sum, per
            peak_rss = max(peak_rss, rss_sum)
            next_sample += SAMPLE_EVERY
            time.sleep(max(0.0, next_sample - time.monotonic()))
        result.update(peak_pss_kib=peak_pss if pss_known else None, peak_rss_kib=peak_rss,
                      per_process_kib=breakdown, processes=sorted(breakdown))
        request = [r for r in server.requests()
                   if r["seq"] > seen_seq and r["path"].split("?")[0] == LOGIN_PAGE]
        if request:
            result["request_ms"] = (request[0]["time"] - wall0) * 1000
        result["ok"] = True
        return result
    finally:
        table = proc_table()
        leftovers = tree_of(proc.pid, table)
        kill_group(proc)
        _started.remove(proc)
        for pid in leftovers:  # our own children that left the group, if any
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        deadline = time.monotonic() + 10
        while leftovers & set(proc_table()) and time.monotonic() < deadline:
            time.sleep(0.02)
        if result.get("ok") and not keep_dir:
            shutil.rmtree(root, ignore_errors=True)
        else:
            result["folder"] = str(root)
            result["stderr"] = tail(root / "stderr")


# -- report -------------------------------------------------------------------------

def median(runs, key):
    values = [r[key] for r in runs if r.get(key) is not None]
    return statistics.median(values) if values else None


def event_ms(run, name):
    for e in run["events"]:
        if e.get("event") == name:
            return e["seen_ms"]
    return None


def by_process(prog, bare, key, title, scale, fmt):
    print(f"  {title}:")
    names = sorted({n for r in prog + bare for n in r.get(key, {})}, key=lambda n: (n != "ui", n))
    for name in names:
        cells = [fmt.format(statistics.median(r[key].get(name, 0) / scale for r in group))
                 for group in (prog, bare)]
        print(f"    {name:<36}{cells[0]:>10}{cells[1]:>10}")


def report(results, runs):
    prog = [r for r in results if r["kind"] == "program"]
    bare = [r for r in results if r["kind"] == "bare"]
    for r in prog + bare:
        r["navigate_ms"] = event_ms(r, "navigate")
        r["shown_ms"] = event_ms(r, "shown")
        if r.get("request_ms") is not None:
            r["request_to_load_ms"] = r["load_ms"] - r["request_ms"]
        for k in ("peak_pss_kib", "peak_rss_kib"):
            if r.get(k) is not None:
                r[k.replace("_kib", "_mib")] = r[k] / 1024

    pairs = {}
    for r in prog + bare:
        pairs.setdefault(r["run"], {})[r["kind"]] = r

    def row(label, key, fmt="{:.1f}", ratio=False):
        a, b = median(prog, key), median(bare, key)
        cells = [fmt.format(v) if v is not None else "n/a" for v in (a, b)]
        r = f"{a / b:.2f}x" if ratio and a is not None and b else ""
        # Starts next to each other in time see much the same load on the machine.
        each = [p["program"][key] / p["bare"][key] for p in pairs.values()
                if len(p) == 2 and p["program"].get(key) is not None and p["bare"].get(key)]
        paired = f"{statistics.median(each):.2f}x" if ratio and each else ""
        print(f"  {label:<38}{cells[0]:>10}{cells[1]:>10}{r:>9}{paired:>9}")

    print(f"\nMedians of {runs} starts each (warm-up start of each discarded)")
    print(f"  {'':<38}{'program':>10}{'bare':>10}{'ratio':>9}{'paired':>9}")
    row("exec -> login page loaded (ms)", "load_ms", ratio=True)
    row("peak PSS, whole tree (MiB)", "peak_pss_mib", ratio=True)
    row("peak RSS, whole tree (MiB)", "peak_rss_mib", ratio=True)
    print("  where the time goes (events as seen by the driver, +-5 ms):")
    row("  exec -> navigate (ms)", "navigate_ms")
    row("  exec -> window mapped (ms)", "shown_ms")
    row("  exec -> request at the server (ms)", "request_ms")
    row("  request -> load finished (ms)", "request_to_load_ms")
    # Less sensitive than the times above to other work on the machine.
    row("  CPU of the tree until loaded (s)", "cpu_s_at_load", "{:.2f}", ratio=True)
    by_process(prog, bare, "cpu_s_by_process", "CPU by process until loaded (s)", 1, "{:.2f}")
    by_process(prog, bare, "per_process_kib", "PSS by process at the peak (MiB)", 1024, "{:.1f}")
    for label, group in (("program", prog), ("bare", bare)):
        times = sorted(r["load_ms"] for r in group)
        print(f"  {label} start-up, min..max: {times[0]:.0f}..{times[-1]:.0f} ms")
    pressure = median(prog + bare, "cpu_pressure")
    if pressure is not None and pressure > 10:
        print(f"  the machine was busy (CPU pressure, some avg10, median {pressure:.0f}%): times are noisy,"
              " the paired ratios and CPU time steadier")
    time_ratio = median(prog, "load_ms") / median(bare, "load_ms")
    memory = "peak_pss_mib" if median(prog, "peak_pss_mib") and median(bare, "peak_pss_mib") else "peak_rss_mib"
    memory_ratio = median(prog, memory) / median(bare, memory)
    verdict = "met" if time_ratio <= 1.10 and memory_ratio <= 1.10 else "NOT met"
    print(f"  goal program/bare <= 1.10x on time and on {memory[5:8].upper()}: {verdict}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=10, help="starts of each, after the warm-up (default 10)")
    parser.add_argument("--dist", type=Path, default=REPO / "build-bench-gtk" / "dist",
                        help="program folder to copy for each start")
    parser.add_argument("--bare", type=Path, default=REPO / "build-bench-gtk" / "bench" / "startup" / "bare_webkit",
                        help="the reference program")
    parser.add_argument("--log", type=Path, default=REPO / "artifacts" / "bench" / "startup-runs.jsonl",
                        help="every start as a JSON line")
    parser.add_argument("--keep", action="store_true", help="keep each start's folder")
    args = parser.parse_args()
    # Each start runs in a folder of its own.
    args.dist, args.bare = args.dist.resolve(), args.bare.resolve()
    for path in (args.dist / "lumetra", args.bare):
        if not path.is_file():
            sys.exit(f"startup_bench: {path} is missing (scripts/bench.sh startup builds it)")

    tmp = Path(tempfile.mkdtemp(prefix="lumetra-startup-bench-"))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    results, failed = [], []
    try:
        display = Display(tmp)
        server = Server(tmp)
        print(f"display {display.name}, server {server.login_url}")
        args.log.parent.mkdir(parents=True, exist_ok=True)
        with open(args.log, "w") as log:
            # Which goes first alternates, so neither always follows the other.
            order = [("program", "bare") if i % 2 == 0 else ("bare", "program") for i in range(args.runs)]
            plan = [("warm-up", k) for k in ("program", "bare")] + [
                (i + 1, k) for i, pair in enumerate(order) for k in pair]
            for number, kind in plan:
                r = start_once(kind, args, display, server, args.keep)
                r["run"] = number
                log.write(json.dumps(r) + "\n")
                log.flush()
                if not r["ok"]:
                    failed.append(r)
                    print(f"  {kind} {number}: FAILED: {r['error']} (folder {r['folder']})\n{r['stderr']}")
                    continue
                pss = r["peak_pss_kib"] / 1024 if r["peak_pss_kib"] is not None else float("nan")
                print(f"  {kind:<7} {number!s:>7}: loaded {r['load_ms']:7.1f} ms, "
                      f"peak PSS {pss:6.1f} MiB, RSS {r['peak_rss_kib'] / 1024:6.1f} MiB")
                if number != "warm-up":
                    results.append(r)
                time.sleep(0.2)  # let the killed tree's memory go back before the next start
        if failed:
            sys.exit(f"startup_bench: {len(failed)} start(s) failed; see {args.log}")
        report(results, args.runs)
        print(f"every start: {args.log}")
    finally:
        cleanup()
        shutil.rmtree(tmp, ignore_errors=True)


if __name__ == "__main__":
    main()
