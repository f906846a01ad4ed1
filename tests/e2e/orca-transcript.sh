#!/usr/bin/env bash
# What Orca says through one exercise played by the keyboard alone: the program under Xvfb and
# openbox with a private session bus, the AT-SPI bus and registry, speech-dispatcher with
# espeak-ng on a private PulseAudio null sink, and Orca with its debug output, from which
# orca-transcript.py takes every utterance after each key.
#   orca-transcript.sh japanese|english PROGRAM OUT_DIR
# Writes OUT_DIR/transcript-EDITION.txt, a screenshot and the logs (Orca's debug output among them).
# Not part of the test run: it needs Orca (apt-get install orca speech-dispatcher
# speech-dispatcher-espeak-ng espeak-ng python3-speechd gir1.2-wnck-3.0) besides what a11y-tree.sh
# needs.
set -uo pipefail
export LC_ALL=C.UTF-8

usage="usage: $0 japanese|english PROGRAM OUT_DIR"
edition=${1:?$usage}
program=$(realpath "${2:?$usage}")
out=$(realpath -m "${3:?$usage}")
here=$(cd "$(dirname "$0")" && pwd)
libexec=/usr/libexec
for tool in Xvfb openbox xdotool xprop import dbus-daemon pulseaudio orca; do
  command -v "$tool" >/dev/null || { echo "orca-transcript: $tool is missing"; exit 1; }
done

work=$(mktemp -d /tmp/velmora-orca.XXXXXX)
mkdir -p "$out"
pids=()
cleanup() {
  local status=$? i
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do
    kill "${pids[i]}" 2>/dev/null
    for _ in $(seq 20); do kill -0 "${pids[i]}" 2>/dev/null || break; sleep 0.1; done
    kill -9 "${pids[i]}" 2>/dev/null
    wait "${pids[i]}" 2>/dev/null
  done
  # Orca's speech client started speech-dispatcher in our runtime folder.
  local speechd="$work/runtime/speech-dispatcher/pid/speech-dispatcher.pid"
  [ -f "$speechd" ] && kill "$(cat "$speechd")" 2>/dev/null
  "$here/pulse-null-sink.sh" stop "$work/pulse" 2>/dev/null
  cp "$work"/*.log "$out/" 2>/dev/null
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
fail() { echo "orca-transcript FAIL: $*"; exit 1; }
wait_until() {
  local deadline=$(( $(date +%s) + $2 ))
  until eval "$1"; do [ "$(date +%s)" -lt "$deadline" ] || return 1; sleep 0.05; done
}

mkdir -p "$work/home" "$work/runtime" "$work/app"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config"
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY

exec {display_fd}>"$work/display"
Xvfb -displayfd "$display_fd" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec {display_fd}>&-
wait_until '[ -s "$work/display" ]' 20 || fail "Xvfb did not start"
export DISPLAY=":$(head -n 1 "$work/display")"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids+=($!)
wait_until 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' 20 || fail "openbox did not start"
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

# speech-dispatcher with espeak-ng; Orca's client starts it with this configuration.
mkdir -p "$XDG_CONFIG_HOME/speech-dispatcher"
cp /etc/speech-dispatcher/speechd.conf "$XDG_CONFIG_HOME/speech-dispatcher/"
cp -r /etc/speech-dispatcher/modules "$XDG_CONFIG_HOME/speech-dispatcher/"
language=en
[ "$edition" = japanese ] && language=ja
cat >>"$XDG_CONFIG_HOME/speech-dispatcher/speechd.conf" <<CONF
AddModule "espeak-ng" "sd_espeak-ng" "espeak-ng.conf"
DefaultModule espeak-ng
DefaultLanguage "$language"
AudioOutputMethod "pulse"
CONF
export GTK_MODULES=gail:atk-bridge NO_AT_BRIDGE=0

# Orca runs under a name of its own: an "orca --replace" anywhere under the same user kills every
# process named orca, and this one is started without it for the same reason.
sed "s/setProcessName('orca')/setProcessName('orca-velmora')/" "$(command -v orca)" >"$work/orca-velmora"
/usr/bin/python3 "$work/orca-velmora" --disable braille --disable braille-monitor --debug-file "$work/orca-debug.log" \
  >"$work/orca.log" 2>&1 &
pids+=($!)
# Orca's debug output comes in blocks: its first words may show only once the program is up.
wait_until 'grep -q "ORCA: Launching" "$work/orca-debug.log" 2>/dev/null' 60 || fail "Orca did not start: $(tail -5 "$work/orca.log")"
sleep 5

cp "$program" "$work/app/vostrel"
( cd "$work/app" && exec env QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 ./vostrel ) >"$work/vostrel.log" 2>&1 &
pids+=($!)
/usr/bin/python3 "$here/orca-transcript.py" "$edition" "$work/orca-debug.log" "$out/transcript-$edition.txt"
status=$?
import -window root "$out/screen-$edition.png" 2>/dev/null
exit $status
