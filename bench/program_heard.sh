#!/usr/bin/env bash
# The program played as a user plays it, heard at the sound server: the English edition under
# Xvfb and openbox with a private PulseAudio null sink (48 kHz float), its 20 computer keys held
# in turn (F3..C5, notes 53..72) and then the reference A button, the sink's monitor recorded and
# measured by heard_keys (100 ms windows from 0.05 s after each first sound to its release).
#
#   bench/program_heard.sh PROGRAM HEARD_KEYS [--hold SECONDS] [--sampled] [--keep DIR]
#
# PROGRAM: an English-edition build, e.g. build/japanese/tests/vostrel_english_for_tests;
# HEARD_KEYS: build/bench/bench/heard_keys. --sampled puts "[synth] piano=sampled" in the settings
# file beside the program first. --keep DIR keeps the recording (rec.raw, mono float32 48 kHz).
set -uo pipefail

program=$(realpath "${1:?usage: $0 PROGRAM HEARD_KEYS [--hold S] [--sampled] [--keep DIR]}")
heard=$(realpath "${2:?usage: $0 PROGRAM HEARD_KEYS [--hold S] [--sampled] [--keep DIR]}")
shift 2
hold=0.9 sampled=0 keep=''
while [ $# -gt 0 ]; do
  case "$1" in
    --hold) hold=$2; shift 2 ;;
    --sampled) sampled=1; shift ;;
    --keep) keep=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/velmora-heard.XXXXXX)
xvfb_pid='' openbox_pid='' app_pid='' parec_pid=''
stop_pid() { [ -n "$1" ] && kill "$1" 2>/dev/null && wait "$1" 2>/dev/null; return 0; }
cleanup() {
  stop_pid "$parec_pid"; stop_pid "$app_pid"; stop_pid "$openbox_pid"; stop_pid "$xvfb_pid"
  "$here/../tests/e2e/pulse-null-sink.sh" stop "$work/pulse" >/dev/null 2>&1
  [ -z "$keep" ] || { mkdir -p "$keep"; cp "$work"/rec.raw "$work"/*.log "$keep"/ 2>/dev/null; }
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

: >"$work/display"
exec {fd}>"$work/display"
# Auto-repeat after 10 s: a held key then sends one press, however long it is held.
Xvfb -displayfd "$fd" -screen 0 1920x1200x24 -nolisten tcp -noreset -ardelay 10000 >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
exec {fd}>&-
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(cat "$work/display")"
openbox --sm-disable >"$work/openbox.log" 2>&1 &
openbox_pid=$!
sleep 1
export PULSE_SERVER
PULSE_SERVER=$("$here/../tests/e2e/pulse-null-sink.sh" start "$work/pulse" velmora rate=48000 format=float32le channels=2) \
  || { echo "PulseAudio did not start" >&2; exit 2; }

mkdir -p "$work/app"
cp "$program" "$work/app/vostrel"
[ "$sampled" = 0 ] || printf '[synth]\r\npiano=sampled\r\n' >"$work/app/vostrel.ini"
( cd "$work/app" && exec env QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 ./vostrel ) >"$work/vostrel.log" 2>&1 &
app_pid=$!
main=''
for _ in $(seq 150); do
  main=$(xdotool search --onlyvisible --name '^Velmora$' 2>/dev/null | head -n 1)
  [ -n "$main" ] && [ "$(pactl list short sink-inputs | wc -l)" -ge 1 ] && break
  sleep 0.1
done
[ -n "$main" ] || { echo "the program's main window did not appear" >&2; exit 2; }
# Past the start-up's waits and the first exercise's tuning.
sleep 4
xdotool windowactivate --sync "$main" >/dev/null 2>&1
sleep 0.3

# Where the reference A button is: as tests/e2e/run-program.sh finds it, from the keyboard's top.
info=$(xwininfo -id "$main")
X=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
Y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
H=$(awk '/^ *Height:/ {print $2}' <<<"$info")
import -window "$main" "$work/window.png"
keys_top=$(convert "$work/window.png" -crop "1x$H+4+0" +repage -depth 8 txt:- \
  | awk 'NR > 1 && $3 == "#000000" {split($1, at, /[,:]/); print at[2]; exit}')

parec -d velmora.monitor --format=float32le --rate=48000 --channels=1 --raw >"$work/rec.raw" 2>"$work/parec.log" &
parec_pid=$!
sleep 0.6
keys=(a w s e d r f g y h u j k o l p semicolon bracketleft apostrophe bracketright)
for k in "${keys[@]}"; do
  xdotool keydown "$k"; sleep "$hold"; xdotool keyup "$k"; sleep 0.7
done
xdotool mousemove "$((X + 40))" "$((Y + keys_top + 132))" mousedown 1
sleep "$hold"
xdotool mouseup 1
sleep 0.7
stop_pid "$parec_pid"
parec_pid=''
xdotool key alt+F4
for _ in $(seq 50); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
echo "$([ "$sampled" = 1 ] && echo 'sampled piano ([synth] piano=sampled)' || echo 'practice piano (default)'), keys held $hold s:"
"$heard" "$work/rec.raw" "$hold" $(seq 53 72) -69
