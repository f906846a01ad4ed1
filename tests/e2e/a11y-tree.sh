#!/usr/bin/env bash
# Reads the program as a screen reader does: under Xvfb and openbox, with a private session bus,
# the AT-SPI bus (at-spi-bus-launcher) and registry (at-spi2-registryd), the program run with
# QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 and its accessible tree read with python3-pyatspi
# (a11y-tree.py: names, roles, values, and a whole exercise played by the keyboard).
#   a11y-tree.sh japanese|english PROGRAM [FAILURE_DIR]
# On failure the screen and the logs are left in FAILURE_DIR (default ./a11y-failure).
# Needs Xvfb, openbox, xdotool, xdpyinfo, ImageMagick, dbus-daemon, at-spi2-core, python3-pyatspi
# and pulseaudio; setup.sh installs them.
set -uo pipefail
export LC_ALL=C.UTF-8

edition=${1:?usage: $0 japanese|english PROGRAM [FAILURE_DIR]}
program=$(realpath "${2:?usage: $0 japanese|english PROGRAM [FAILURE_DIR]}")
failure_dir=$(realpath -m "${3:-a11y-failure}")
here=$(cd "$(dirname "$0")" && pwd)
libexec=/usr/libexec

work=$(mktemp -d /tmp/velmora-a11y.XXXXXX)
pids=()

cleanup() {
  local status=$?
  if [ "$status" -ne 0 ]; then
    mkdir -p "$failure_dir"
    [ -n "${DISPLAY:-}" ] && import -window root "$failure_dir/screen-$edition.png" 2>/dev/null
    for f in "$work"/*.log; do [ -f "$f" ] && cp "$f" "$failure_dir/$edition-$(basename "$f")"; done
    echo "a11y: screen and logs left in $failure_dir"
  fi
  # Ours only, newest first, each by its id.
  local i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    for _ in $(seq 20); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
    kill -9 "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  "$here/pulse-null-sink.sh" stop "$work/pulse" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "a11y FAIL: $*"; exit 1; }

for tool in Xvfb openbox xdotool xdpyinfo xprop import dbus-daemon pulseaudio; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./setup.sh installs it)"
done
for tool in "$libexec/at-spi-bus-launcher" "$libexec/at-spi2-registryd"; do
  [ -x "$tool" ] || fail "$tool is missing (./setup.sh installs at-spi2-core)"
done
# Debian's pyatspi belongs to the system's python, whichever python3 comes first in PATH.
python=/usr/bin/python3
"$python" -c 'import pyatspi' 2>/dev/null || fail "python3-pyatspi is missing (./setup.sh installs it)"

wait_until() {
  local deadline=$(( $(date +%s%N) + $2 * 1000000000 ))
  until eval "$1"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

mkdir -p "$work/home" "$work/runtime" "$work/app"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config"
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY

# A display of its own: Xvfb picks a free number and tells it once it accepts clients.
exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {display_fd}>&-
wait_until '[ -s "$work/display" ]' 20 || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n 1 "$work/display")"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' 20 || fail "openbox did not start"

# A session bus of our own, then the accessibility bus and its registry on it.
dbus-daemon --session --nofork --address="unix:path=$work/runtime/bus" >"$work/dbus.log" 2>&1 &
pids+=($!)
export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/runtime/bus"
wait_until '[ -S "$work/runtime/bus" ]' 20 || fail "the session bus did not start"
"$libexec/at-spi-bus-launcher" --launch-immediately >"$work/at-spi-bus.log" 2>&1 &
pids+=($!)
wait_until 'dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null 2>&1' 20 \
  || fail "at-spi-bus-launcher did not come up"
"$libexec/at-spi2-registryd" >"$work/registryd.log" 2>&1 &
pids+=($!)

pulse_server=$("$here/pulse-null-sink.sh" start "$work/pulse" velmora) || fail "PulseAudio did not start"
export PULSE_SERVER="$pulse_server"

# The program keeps its settings beside itself: a copy in the scratch folder starts with none.
cp "$program" "$work/app/vostrel"
( cd "$work/app" && exec env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 ./vostrel ) >"$work/vostrel.log" 2>&1 &
app_pid=$!
pids+=($app_pid)

"$python" "$here/a11y-tree.py" "$edition" "$app_pid" || exit 1
echo "a11y: $edition edition read and played as a screen reader does"
