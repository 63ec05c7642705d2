#!/usr/bin/env python3
"""Small invoice application server: the demo behind the README's run command and
the fixture of the end-to-end tests.

    python3 server/appserver.py [--port N] [--port-file PATH] [--log PATH]

Listens on 127.0.0.1 only. See server/README.md for the routes.
"""

import argparse
import html
import json
import mimetypes
import os
import signal
import sys
import tempfile
import threading
import time
from http import HTTPStatus
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, unquote, urlsplit

HOST = "127.0.0.1"
PAGES_DIR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "pages")
COOKIE_NAME = "tavreq_is_login"
LOGIN_PAGE = "/tavreq/login/init.html"
HOME_PAGE = "/tavreq/login/home.html"
MAX_BODY = 1 << 20
MAX_WAIT_S = 600.0
DEFAULT_WAIT_S = 30.0
MAX_SLOW_MS = 60000

CSS = """
body { margin: 0; font: 14px/1.5 "Noto Sans CJK SC", "WenQuanYi Micro Hei", sans-serif;
       color: #222; background: #f3f5f8; }
main { max-width: 720px; margin: 16px auto; padding: 12px 20px; background: #fff;
       border: 1px solid #d5dbe3; border-radius: 4px; }
h1 { font-size: 18px; margin: 0 0 12px; }
a { color: #1d5fb4; }
.error { color: #b42318; }
"""

# The desktop program's login dialog is 450 x 300 and shows no scroll bars, so
# this page has to stay well inside that.
LOGIN_CSS = """
main.login { width: 300px; margin: 20px auto 0; padding: 14px 20px; }
main.login h1 { font-size: 16px; margin: 0 0 10px; }
.row { display: flex; align-items: center; margin: 0 0 10px; }
.row label { width: 56px; }
.row input { flex: 1; height: 26px; box-sizing: border-box; padding: 2px 6px;
             border: 1px solid #b8c1cc; border-radius: 3px; font: inherit; }
button { width: 100%; height: 30px; border: 0; border-radius: 3px; background: #1d5fb4;
         color: #fff; font: inherit; cursor: pointer; }
.error { margin: 0 0 8px; font-size: 13px; }
"""

MENU = [
    ("invoice/issue.html", "发票开具"),
    ("invoice/query.html", "发票查询"),
    ("invoice/void.html", "发票作废"),
    ("invoice/red.html", "红字发票"),
    ("customer/list.html", "客户管理"),
    ("goods/list.html", "商品编码"),
    ("settings/taxpayer.html", "纳税人信息"),
]
MENU_TITLES = {path: text for path, text in MENU}


def page(title, body, css="", head=""):
    return (
        "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
        f"<title>{html.escape(title)}</title>\n<style>{CSS}{css}</style>\n{head}</head>\n"
        f"<body>\n{body}\n</body>\n</html>\n"
    )


def login_page(error=""):
    err = f'<p class="error">{html.escape(error)}</p>\n' if error else ""
    return page("登录", f"""<main class="login">
<h1>Lumetra 发票系统</h1>
{err}<form method="post" action="/tavreq/login/login.do">
<div class="row"><label for="username">用户名</label><input id="username" name="username" autocomplete="username" autofocus></div>
<div class="row"><label for="password">密码</label><input id="password" name="password" type="password" autocomplete="current-password"></div>
<button type="submit">登录</button>
</form>
</main>""", css=LOGIN_CSS)


# Reports are posted with fetch so that a page needs no other helper; keepalive
# lets a report sent just before navigating away still arrive.
REPORT_JS = """
function report(data) {
  return fetch("/_test/report", {method: "POST", keepalive: true,
    headers: {"Content-Type": "application/json"}, body: JSON.stringify(data)});
}
"""


class State:
    """What the tests look at: the requests seen and the reports posted by pages."""

    def __init__(self):
        self.cond = threading.Condition()
        self.requests = []
        self.reports = []
        self.seq = 0

    def _next(self):
        self.seq += 1
        return self.seq

    def add_request(self, entry):
        with self.cond:
            entry["seq"] = self._next()
            self.requests.append(entry)
            self.cond.notify_all()
        return entry

    def set_status(self, entry, status):
        with self.cond:
            entry["status"] = status
            self.cond.notify_all()

    def add_report(self, report):
        with self.cond:
            report["seq"] = self._next()
            self.reports.append(report)
            self.cond.notify_all()

    def reset(self):
        with self.cond:
            self.requests.clear()
            self.reports.clear()

    def snapshot(self, which, match=None, since=0, timeout=None):
        """Entries of `which` newer than `since` that satisfy `match`; with a
        timeout, waits until there is at least one (None when it runs out)."""
        def found():
            return [dict(e) for e in getattr(self, which)
                    if e["seq"] > since and (match is None or match(e))]
        with self.cond:
            if timeout is None:
                return found()
            deadline = time.monotonic() + timeout
            while True:
                hits = found()
                if hits:
                    return hits
                left = deadline - time.monotonic()
                if left <= 0:
                    return None
                self.cond.wait(left)


class Handler(BaseHTTPRequestHandler):
    server_version = "LumetraAppServer/1.0"
    protocol_version = "HTTP/1.1"

    # -- plumbing -------------------------------------------------------------

    def do_GET(self):
        self.dispatch()

    do_HEAD = do_POST = do_OPTIONS = do_PUT = do_DELETE = do_GET

    def dispatch(self):
        self.entry = None
        url = urlsplit(self.path)
        path = unquote(url.path)
        self.query = parse_qs(url.query, keep_blank_values=True)
        if not self.read_body():
            return
        # The harness's own traffic would only drown what the program did.
        if not path.startswith("/_test/"):
            self.entry = self.server.state.add_request({
                "method": self.command,
                "path": self.path,
                "status": None,
                "user_agent": self.headers.get("User-Agent"),
                "cookie": self.headers.get("Cookie"),
                "time": time.time(),
            })
        if self.command == "OPTIONS":
            self.send_body(HTTPStatus.NO_CONTENT, b"", headers={
                "Access-Control-Allow-Methods": "GET, POST, OPTIONS",
                "Access-Control-Allow-Headers":
                    self.headers.get("Access-Control-Request-Headers", "Content-Type"),
                "Access-Control-Max-Age": "600",
            })
            return
        route = ROUTES.get(path)
        if route is None:
            for prefix, func in PREFIX_ROUTES:
                if path.startswith(prefix):
                    route = (None, lambda h, rest=path[len(prefix):], f=func: f(h, rest))
                    break
        if route is None:
            self.send_page(HTTPStatus.NOT_FOUND, page("页面不存在", "<main><h1>404 页面不存在</h1></main>"))
            return
        methods, func = route
        if self.command not in (methods or ("GET", "HEAD", "POST")):
            self.send_body(HTTPStatus.METHOD_NOT_ALLOWED, b"",
                           headers={"Allow": ", ".join(methods or ("GET", "HEAD", "POST"))})
            return
        func(self)

    def read_body(self):
        self.body = b""
        length = self.headers.get("Content-Length")
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            self.send_error(HTTPStatus.LENGTH_REQUIRED)
            return False
        try:
            length = int(length or 0)
        except ValueError:
            self.send_error(HTTPStatus.BAD_REQUEST, "bad Content-Length")
            return False
        if length < 0 or length > MAX_BODY:
            self.send_error(HTTPStatus.REQUEST_ENTITY_TOO_LARGE)
            return False
        self.body = self.rfile.read(length)
        return True

    def send_body(self, status, body, ctype=None, headers=None):
        if isinstance(body, str):
            body = body.encode("utf-8")
        self.send_response(status)
        if ctype:
            self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        # Tests count requests; a cached page would make them miss one.
        self.send_header("Cache-Control", "no-store")
        self.send_header("Access-Control-Allow-Origin", "*")
        for name, value in (headers or {}).items():
            if isinstance(value, list):
                for v in value:
                    self.send_header(name, v)
            else:
                self.send_header(name, value)
        self.end_headers()
        if self.command != "HEAD" and status >= 200 and status not in (204, 304):
            self.wfile.write(body)

    def send_page(self, status, text, headers=None):
        self.send_body(status, text, "text/html; charset=utf-8", headers)

    def send_json(self, status, obj):
        self.send_body(status, json.dumps(obj, ensure_ascii=False), "application/json; charset=utf-8")

    def redirect(self, location, headers=None):
        headers = dict(headers or {})
        headers["Location"] = location
        self.send_body(HTTPStatus.SEE_OTHER, b"", headers=headers)

    def arg(self, name, default=None):
        values = self.query.get(name)
        return values[0] if values else default

    def timeout_arg(self):
        try:
            t = float(self.arg("timeout", DEFAULT_WAIT_S))
        except ValueError:
            t = DEFAULT_WAIT_S
        return min(max(t, 0.0), MAX_WAIT_S)

    def since_arg(self):
        try:
            return int(self.arg("since", 0))
        except ValueError:
            return 0

    def log_request(self, code="-", size="-"):
        # send_response calls this exactly once per answer, including the ones
        # http.server sends itself for malformed requests.
        if isinstance(code, int):
            code = int(code)
        entry = getattr(self, "entry", None)
        if entry is not None:
            self.server.state.set_status(entry, code)
        ua = self.headers.get("User-Agent", "-") if getattr(self, "headers", None) else "-"
        self.server.access_log(
            f'{self.log_date_time_string()} {self.command or "-"} {self.path if hasattr(self, "path") else "-"} '
            f'{code} "{ua}"')

    def log_message(self, format, *args):
        pass  # the access line already tells the status

    # -- test harness ---------------------------------------------------------

    def t_requests(self):
        wait = self.arg("wait")
        match = None
        if wait is not None:
            match = lambda e: urlsplit(e["path"]).path == wait
        hits = self.server.state.snapshot("requests", match, self.since_arg(),
                                          self.timeout_arg() if wait is not None else None)
        if hits is None:
            self.send_json(HTTPStatus.NOT_FOUND, {"error": "timeout", "wait": wait})
        else:
            self.send_json(HTTPStatus.OK, hits)

    def t_reset(self):
        self.server.state.reset()
        self.send_json(HTTPStatus.OK, {"ok": True})

    def t_report(self):
        text = self.body.decode("utf-8", errors="replace")
        try:
            data = json.loads(text)
        except ValueError:
            data = None
        referer = self.headers.get("Referer")
        self.server.state.add_report({
            "referer": urlsplit(referer).path if referer else None,
            "json": data,
            "text": text,
            "time": time.time(),
        })
        self.send_json(HTTPStatus.OK, {"ok": True})

    def t_reports(self):
        wait = self.arg("wait")
        match = None
        if wait is not None:
            match = lambda r: isinstance(r["json"], dict) and r["json"].get("name") == wait
        hits = self.server.state.snapshot("reports", match, self.since_arg(),
                                          self.timeout_arg() if wait is not None else None)
        if hits is None:
            self.send_json(HTTPStatus.NOT_FOUND, {"error": "timeout", "wait": wait})
        else:
            self.send_json(HTTPStatus.OK, hits)

    # -- application ----------------------------------------------------------

    def root(self):
        self.redirect(LOGIN_PAGE)

    def login_init(self):
        error = "请输入用户名" if self.arg("error") == "empty" else ""
        self.send_page(HTTPStatus.OK, login_page(error))

    def login_do(self):
        if self.command != "POST":
            self.redirect(LOGIN_PAGE)
            return
        form = parse_qs(self.body.decode("utf-8", errors="replace"), keep_blank_values=True)
        if not form.get("username", [""])[0].strip():
            self.redirect(LOGIN_PAGE + "?error=empty")
            return
        self.redirect(HOME_PAGE, {"Set-Cookie": f"{COOKIE_NAME}=true; Path=/"})

    def home(self):
        links = "\n".join(f'<li><a href="/tavreq/pages/{p}">{t}</a></li>' for p, t in MENU)
        self.send_page(HTTPStatus.OK, page("Lumetra 首页", f"""<main>
<h1>发票开具</h1>
<ul class="menu">
{links}
</ul>
<p><a href="/tavreq/login/Logout.html">退出登录</a></p>
</main>"""))

    def logout(self):
        self.send_page(HTTPStatus.OK, page("已退出", f"""<main>
<h1>已退出</h1>
<p><a href="{LOGIN_PAGE}">重新登录</a></p>
</main>"""), {"Set-Cookie": f"{COOKIE_NAME}=; Path=/; Max-Age=0; Expires=Thu, 01 Jan 1970 00:00:00 GMT"})

    def placeholder(self, rest):
        title = MENU_TITLES.get(rest, "功能页面")
        self.send_page(HTTPStatus.OK, page(title, f"""<main>
<h1>{html.escape(title)}</h1>
<p>该功能正在建设中。</p>
<p><a href="{HOME_PAGE}">返回首页</a></p>
</main>"""))

    # -- test pages -----------------------------------------------------------

    def setcookie(self):
        self.send_page(HTTPStatus.OK, page("已设置登录标记", """<main>
<h1>已设置登录标记</h1>
<p><a href="/tavreq/login/home.html">进入首页</a></p>
</main>"""), {"Set-Cookie": f"{COOKIE_NAME}=true; Path=/"})

    def status(self, rest):
        if not (rest.isdigit() and 400 <= int(rest) <= 599):
            self.send_page(HTTPStatus.NOT_FOUND, page("页面不存在", "<main><h1>404 页面不存在</h1></main>"))
            return
        code = int(rest)
        try:
            phrase = HTTPStatus(code).phrase
        except ValueError:
            phrase = "Error"
        self.send_page(code, page(f"{code} {phrase}", f"<main><h1>{code} {html.escape(phrase)}</h1></main>"))

    def frame404(self):
        self.send_page(HTTPStatus.OK, page("内嵌错误页", """<main>
<h1>内嵌错误页</h1>
<p>下面的框架指向一个不存在的页面。</p>
<iframe src="status/404" width="400" height="120"></iframe>
</main>"""))

    def frameok(self):
        self.send_page(HTTPStatus.OK, page("内嵌正常页", """<main>
<h1>内嵌正常页</h1>
<iframe src="title.html?t=%E5%86%85%E5%B5%8C%E5%86%85%E5%AE%B9" width="400" height="120"></iframe>
</main>"""))

    def title(self):
        t = self.arg("t", "")
        self.send_page(HTTPStatus.OK, page(t, f"<main><h1>{html.escape(t)}</h1></main>"))

    def scripterror(self):
        # The error listener only reports; it does not preventDefault, so the
        # program under test still sees both errors.
        self.send_page(HTTPStatus.OK, page("脚本错误", """<main>
<h1>脚本错误</h1>
<button id="fail" type="button">再次出错</button>
</main>""", head=f"""<script>{REPORT_JS}
window.addEventListener("error", function (e) {{
  report({{name: "scripterror", message: e.message}});
}});
window.addEventListener("load", function () {{
  document.getElementById("fail").addEventListener("click", function () {{
    throw new Error("按钮脚本错误");
  }});
  throw new Error("测试脚本错误");
}});
</script>
"""))

    def keys(self):
        self.send_page(HTTPStatus.OK, page("按键测试", """<main>
<h1>按键测试</h1>
<p>在此页面按下的每个键都会报告给服务器。</p>
</main>""", head=f"""<script>{REPORT_JS}
document.addEventListener("keydown", function (e) {{
  report({{name: "key", key: e.key, code: e.code, ctrlKey: e.ctrlKey,
          shiftKey: e.shiftKey, altKey: e.altKey}});
}}, true);
window.addEventListener("load", function () {{ report({{name: "keys-ready"}}); }});
</script>
"""))

    def slow(self):
        try:
            ms = int(self.arg("ms", "0"))
        except ValueError:
            self.send_page(HTTPStatus.BAD_REQUEST, page("参数错误", "<main><h1>ms 必须是整数</h1></main>"))
            return
        ms = min(max(ms, 0), MAX_SLOW_MS)
        time.sleep(ms / 1000.0)
        self.send_page(HTTPStatus.OK, page("慢速页面", f"<main><h1>慢速页面</h1><p>延迟 {ms} 毫秒</p></main>"))

    def echo_ua(self):
        self.send_body(HTTPStatus.OK, self.headers.get("User-Agent", ""), "text/plain; charset=utf-8")

    def static_page(self, rest):
        base = os.path.realpath(PAGES_DIR)
        target = os.path.realpath(os.path.join(base, rest))
        parts = rest.split("/")
        if (not rest or any(p.startswith(".") for p in parts)
                or os.path.commonpath([base, target]) != base or not os.path.isfile(target)):
            self.send_page(HTTPStatus.NOT_FOUND, page("页面不存在", "<main><h1>404 页面不存在</h1></main>"))
            return
        ctype = mimetypes.guess_type(target)[0] or "application/octet-stream"
        if ctype.startswith("text/") or ctype in ("application/javascript", "application/json"):
            ctype += "; charset=utf-8"
        with open(target, "rb") as f:
            self.send_body(HTTPStatus.OK, f.read(), ctype)


GET_ONLY = ("GET", "HEAD")
ROUTES = {
    "/": (GET_ONLY, Handler.root),
    "/_test/requests": (GET_ONLY, Handler.t_requests),
    "/_test/reset": (("POST",), Handler.t_reset),
    "/_test/report": (("POST",), Handler.t_report),
    "/_test/reports": (GET_ONLY, Handler.t_reports),
    LOGIN_PAGE: (None, Handler.login_init),
    "/tavreq/login/login.do": (None, Handler.login_do),
    HOME_PAGE: (None, Handler.home),
    "/tavreq/login/Logout.html": (None, Handler.logout),
    "/tavreq/test/setcookie.html": (None, Handler.setcookie),
    "/tavreq/test/frame404.html": (None, Handler.frame404),
    "/tavreq/test/frameok.html": (None, Handler.frameok),
    "/tavreq/test/title.html": (None, Handler.title),
    "/tavreq/test/scripterror.html": (None, Handler.scripterror),
    "/tavreq/test/keys.html": (None, Handler.keys),
    "/tavreq/test/slow.html": (None, Handler.slow),
    "/tavreq/test/echo-ua": (None, Handler.echo_ua),
}
PREFIX_ROUTES = [
    ("/tavreq/test/status/", Handler.status),
    ("/tavreq/test/pages/", Handler.static_page),
    ("/tavreq/pages/", Handler.placeholder),
]


class AppServer(ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, port, log_file):
        self.state = State()
        self.log_file = log_file
        self.log_lock = threading.Lock()
        super().__init__((HOST, port), Handler)

    def access_log(self, line):
        with self.log_lock:
            try:
                self.log_file.write(line + "\n")
                self.log_file.flush()
            except (OSError, ValueError):
                pass

    def handle_error(self, request, client_address):
        # A client that gives up on a long poll or a slow page is routine.
        if isinstance(sys.exc_info()[1], (ConnectionError, TimeoutError)):
            return
        super().handle_error(request, client_address)


def write_port_file(path, port):
    directory = os.path.dirname(os.path.abspath(path))
    fd, tmp = tempfile.mkstemp(dir=directory, prefix=".port-")
    try:
        with os.fdopen(fd, "w") as f:
            f.write(f"{port}\n")
        os.replace(tmp, path)
    except BaseException:
        try:
            os.unlink(tmp)
        except OSError:
            pass
        raise


def main(argv=None):
    parser = argparse.ArgumentParser(description="Lumetra demo and test application server")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (0: any free port)")
    parser.add_argument("--port-file", help="write the chosen port here once listening")
    parser.add_argument("--log", help="access log file (default: stderr)")
    args = parser.parse_args(argv)

    log_file = open(args.log, "a", encoding="utf-8") if args.log else sys.stderr
    httpd = AppServer(args.port, log_file)

    def stop(signum, frame):
        # shutdown() waits for serve_forever, which runs on this very thread.
        threading.Thread(target=httpd.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)

    port = httpd.server_address[1]
    if args.port_file:
        write_port_file(args.port_file, port)
    print(f"appserver listening on http://{HOST}:{port}/", flush=True)
    try:
        # A short poll keeps the exit after SIGTERM prompt.
        httpd.serve_forever(poll_interval=0.1)
    finally:
        httpd.server_close()
        if log_file is not sys.stderr:
            log_file.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
