#!/usr/bin/env bash
# Runs the program against the bundled demo server: installs what is missing, builds,
# starts the server on a free port of 127.0.0.1 and the program from run/ (a copy of the
# program folder whose Corvane.ini points at that server).
#
# With $DISPLAY set the program opens there and the script ends when it does. Without
# one it runs under Xvfb with openbox; once the window is painted the screen is saved
# as run/screenshot.png and everything is stopped again (LUMETRA_KEEP_RUNNING=1 keeps it
# running until Ctrl+C, e.g. to look at it with other X tools on the printed display).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
run=$root/run

log() { echo "run.sh: $*"; }

# Polls a command until it succeeds or $1 seconds have passed.
wait_for() {
  local limit=$1; shift
  local deadline=$((SECONDS + limit))
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

bash scripts/deps.sh run

log "building"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)"

# Whether a child is still running (kill -0 also succeeds on an unreaped zombie).
alive() {
  local stat
  [ -n "$1" ] && read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
  stat=${stat##*) }
  [ "${stat:0:1}" != Z ]
}
dead() { ! alive "$1"; }

server_pid="" xvfb_pid="" wm_pid="" program_pid=""
stop() { # pid: TERM to its process group, KILL if it lingers
  local pid=$1
  alive "$pid" || return 0
  kill -TERM -- -"$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null || true
  wait_for 5 dead "$pid" || kill -KILL -- -"$pid" 2>/dev/null || true
}
cleanup() {
  stop "$program_pid"
  stop "$server_pid"
  stop "$wm_pid"
  stop "$xvfb_pid"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# A fresh program folder each time, so the configuration always matches this server.
rm -rf "$run"
mkdir -p "$run"
cp -a build/dist/. "$run/"

setsid python3 server/appserver.py --port 0 --port-file "$run/server.port" --log "$run/server.log" \
  >"$run/server.out" 2>&1 &
server_pid=$!
port_written() {
  alive "$server_pid" || { cat "$run/server.out" >&2; exit 1; }
  [ -s "$run/server.port" ]
}
wait_for 30 port_written || { log "the server wrote no port file"; exit 1; }
port=$(tr -d '[:space:]' <"$run/server.port")
log "application server on http://127.0.0.1:$port/ (log: run/server.log)"

# Corvane.ini values are Base64 of the text's GBK bytes; CRLF line ends.
value() { printf '%s' "$1" | iconv -f UTF-8 -t GBK | base64 -w0; }
{
  printf '[general]\r\n'
  printf 'Version=%s\r\n' "$(value 1.2.0.0)"
  printf 'ServerURL=%s\r\n' "$(value 127.0.0.1)"
  printf 'ServerPort=%s\r\n' "$(value "$port")"
  printf 'LoginPageURI=%s\r\n' "$(value /tavreq/login/init.html)"
  printf 'IndexPageURI=%s\r\n' "$(value /tavreq/login/home.html)"
  printf 'LogoutPageURI=%s\r\n' "$(value /tavreq/login/Logout.html)"
  printf 'skin=\r\n'
  grep -i '^Skey=' build/dist/Corvane.ini | tr -d '\r' | sed 's/$/\r/' || true
} >"$run/Corvane.ini"

if [ -n "${DISPLAY:-}" ]; then
  log "starting the program on display $DISPLAY"
  set +e
  "$run/lumetra"
  status=$?
  set -e
  log "the program ended with code $status"
  exit "$status"
fi

log "no DISPLAY: starting Xvfb and openbox"
setsid Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$run/display" 2>"$run/xvfb.log" &
xvfb_pid=$!
display_known() {
  alive "$xvfb_pid" || { cat "$run/xvfb.log" >&2; exit 1; }
  grep -q '^[0-9]' "$run/display" 2>/dev/null
}
wait_for 30 display_known || { log "Xvfb reported no display"; exit 1; }
export DISPLAY=":$(head -n1 "$run/display" | tr -d '[:space:]')"
unset WAYLAND_DISPLAY
setsid openbox --sm-disable >"$run/openbox.log" 2>&1 &
wm_pid=$!
wait_for 30 bash -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' \
  || { log "openbox did not come up"; cat "$run/openbox.log" >&2; exit 1; }

log "starting the program on $DISPLAY (output: run/lumetra.log)"
setsid "$run/lumetra" >"$run/lumetra.log" 2>&1 &
program_pid=$!
window=""
find_window() {
  alive "$program_pid" || { log "the program ended early"; cat "$run/lumetra.log" >&2; exit 1; }
  window=$(xdotool search --onlyvisible --pid "$program_pid" 2>/dev/null | head -n1)
  [ -n "$window" ]
}
wait_for 120 find_window || { log "no window after 120 s"; exit 1; }
# The page is drawn a little after the window appears: wait until it shows more than a blank area.
painted() { [ "$(import -window "$window" -format %k info: 2>/dev/null || echo 0)" -ge 8 ]; }
wait_for 60 painted || log "the window still looks blank; taking the screenshot anyway"
import -window root "$run/screenshot.png"
log "screenshot: $run/screenshot.png"

if [ "${LUMETRA_KEEP_RUNNING:-}" = 1 ]; then
  log "running on DISPLAY=$DISPLAY; press Ctrl+C to stop"
  wait "$program_pid" || true
fi
