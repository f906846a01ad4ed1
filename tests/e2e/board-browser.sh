#!/usr/bin/env bash
# The results board as a learner meets it: the real program under Xvfb and openbox scores an
# exercise and copies its report; its board button, with the settings file's [board] address
# set to a board on loopback, opens the desktop's browser (here a stand-in xdg-open that writes
# down the address); headless Chromium then opens that address, pastes the report, posts it and
# finds the post with the report's score (board-browser.py, python3-selenium and chromium-driver).
# Screenshots of the board and of the post, at 1x and 2x, are left in SHOT_DIR.
#   board-browser.sh PROGRAM BOARD_PROGRAM [SHOT_DIR] [FAILURE_DIR]
# Needs Xvfb, openbox, xdotool, xclip, ImageMagick, pulseaudio, chromium, chromium-driver and
# python3-selenium; setup.sh installs them.
set -uo pipefail
export LC_ALL=C.UTF-8

usage="usage: $0 PROGRAM BOARD_PROGRAM [SHOT_DIR] [FAILURE_DIR]"
program=$(realpath "${1:?$usage}")
board_program=$(realpath "${2:?$usage}")
shot_dir=$(realpath -m "${3:-board-shots}")
failure_dir=$(realpath -m "${4:-board-failure}")
here=$(cd "$(dirname "$0")" && pwd)

main_title='Velmora'
adjust_title='調整'
results_title='正解表示'

started=$(date +%s%N)
say() { echo "board-e2e [$(( ($(date +%s%N) - started) / 1000000 ))ms] $*"; }

work=$(mktemp -d /tmp/velmora-board-e2e.XXXXXX)
pids=()
xvfb_pid=''

cleanup() {
  local status=$?
  if [ "$status" -ne 0 ]; then
    mkdir -p "$failure_dir"
    [ -n "${DISPLAY:-}" ] && import -window root "$failure_dir/screen.png" 2>/dev/null
    cp "$work"/*.log "$work"/*.png "$work"/clipboard.txt "$work"/app/vostrel.ini "$failure_dir/" 2>/dev/null
    echo "board-e2e: screen, logs and settings file left in $failure_dir"
  fi
  # Ours only, newest first, each by its id.
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    for _ in $(seq 30); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
    kill -9 "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  if [ -n "$xvfb_pid" ]; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  "$here/pulse-null-sink.sh" stop "$work/pulse" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "board-e2e FAIL: $*"; exit 1; }

for tool in Xvfb openbox xdotool xwininfo xdpyinfo xprop xclip import pulseaudio chromium chromedriver; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./setup.sh installs it)"
done
python=/usr/bin/python3
"$python" -c 'import selenium' 2>/dev/null || fail "python3-selenium is missing (./setup.sh installs it)"

wait_until() {
  local deadline=$(( $(date +%s%N) + $2 * 1000000000 ))
  until eval "$1"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

mkdir -p "$work/home" "$work/runtime" "$work/app" "$work/bin"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY XDG_CURRENT_DESKTOP BROWSER DEFAULT_BROWSER

# --- the board on a free loopback port ---------------------------------------------------------
port=$("$python" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
"$board_program" --db "$work/board.sqlite" --listen "127.0.0.1:$port" --workers 4 >"$work/board.log" 2>&1 &
pids+=($!)
board_url="http://127.0.0.1:$port/"
wait_until '"$python" -c "import urllib.request as u; u.urlopen(\"${board_url}health\", timeout=1)" 2>/dev/null' 15 \
  || fail "the board did not answer at $board_url: $(cat "$work/board.log")"
say "board at $board_url"

# --- a display, window manager and sound server of our own ------------------------------------
: >"$work/display"
exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1920x1200x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec {display_fd}>&-
wait_until '[ -s "$work/display" ]' 10 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' 10 || fail "openbox did not start"
pulse_server=$("$here/pulse-null-sink.sh" start "$work/pulse" velmora) || fail "PulseAudio did not start"
export PULSE_SERVER="$pulse_server"

# The desktop's browser: a stand-in that writes down what it was asked to open.
cat >"$work/bin/xdg-open" <<OPEN
#!/bin/sh
printf '%s\n' "\$*" >>"$work/opened.txt"
OPEN
chmod +x "$work/bin/xdg-open"
export PATH="$work/bin:$PATH"

# The program beside its settings file, which points the board button at our board.
cp "$program" "$work/app/vostrel"
printf '[board]\r\naddress=%s\r\n' "$board_url" >"$work/app/vostrel.ini"

window_id() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }
read_geometry() {
  local info
  info=$(xwininfo -id "$1") || fail "window $1 vanished"
  X=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
  Y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
}
activate() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || fail "could not activate window $1"
  wait_until "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $1 ]" 3 || fail "window $1 did not become active"
}
click_at() { xdotool mousemove "$1" "$2" click 1; }

( cd "$work/app" && exec env QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 ./vostrel ) >"$work/vostrel.log" 2>&1 &
pids+=($!)
wait_until '[ -n "$(window_id "$main_title")" ] && [ -n "$(window_id "$adjust_title")" ]' 15 \
  || fail "the program's windows did not appear"
say "program started"

# One step right on the C slider, then the score button.
adjust=$(window_id "$adjust_title")
activate "$adjust"
read_geometry "$adjust"
click_at "$((X + 155))" "$((Y + 32))"
sleep 0.5
activate "$adjust"
click_at "$((X + 92))" "$((Y + 428))"
wait_until '[ -n "$(window_id "$results_title")" ]' 5 || fail "the score button did not open the results window"
results=$(window_id "$results_title")

# The copy button, then the board button.
activate "$results"
read_geometry "$results"
click_at "$((X + 132))" "$((Y + 404))"
wait_until '[ "$(xclip -o -selection clipboard 2>/dev/null | wc -l)" -ge 26 ]' 5 || fail "no report on the clipboard"
xclip -o -selection clipboard >"$work/clipboard.txt"
score=$(sed -n '16p' "$work/clipboard.txt" | tr -d '\r' | sed 's/^得点：//')
[[ "$score" =~ ^-?[0-9]+$ ]] || fail "the report's score line reads '$(sed -n '16p' "$work/clipboard.txt")'"
say "report copied, score $score"
activate "$results"
click_at "$((X + 132))" "$((Y + 436))"
wait_until '[ -s "$work/opened.txt" ]' 5 || fail "the board button opened nothing"
opened=$(head -n 1 "$work/opened.txt")
[ "$opened" = "$board_url" ] || fail "the board button opened '$opened' instead of $board_url"
say "the board button opened $opened"

# --- the browser ------------------------------------------------------------------------------
mkdir -p "$shot_dir"
"$python" "$here/board-browser.py" "$opened" "$work/clipboard.txt" "$score" "$shot_dir" >"$work/browser.log" 2>&1 \
  || { cat "$work/browser.log"; fail "the browser run failed"; }
cat "$work/browser.log"
say "passed; screenshots in $shot_dir"
