#!/usr/bin/env bash
# Runs audio_heard against a private sound server with a null sink "velmora", optionally with two
# busy loops keeping both cores loaded. Everything it starts is stopped on every way out.
#
#   bench/audio_heard.sh [--server pulseaudio|pipewire] [--load] [--bin PATH] [--logs DIR] [-- audio_heard options]
#
# --logs DIR keeps the server's own log, verbose and time-stamped (its underruns among it), in DIR.
#
# The private server's files live in a temporary folder; nothing of the user's own session is used.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
server=pulseaudio
load=0
bin="$here/../build/bench/bench/audio_heard"
logs=""
while [ $# -gt 0 ]; do
  case "$1" in
    --server) server=$2; shift 2 ;;
    --load) load=1; shift ;;
    --bin) bin=$2; shift 2 ;;
    --logs) logs=$2; mkdir -p "$logs"; shift 2 ;;
    --) shift; break ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
[ -x "$bin" ] || { echo "no $bin: build it with 'cmake --preset bench && cmake --build build/bench --target audio_heard'" >&2; exit 2; }

dir=$(mktemp -d /tmp/velmora-audio.XXXXXX)
pids=()
cleanup() {
  local i
  for (( i=${#pids[@]}-1; i>=0; i-- )); do
    kill "${pids[$i]}" 2>/dev/null || true
  done
  for pid in "${pids[@]}"; do
    wait "$pid" 2>/dev/null || true
  done
  if [ -n "$logs" ]; then
    cp "$dir"/*.log "$logs"/ 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM HUP

export XDG_RUNTIME_DIR="$dir/run" PULSE_RUNTIME_PATH="$dir/run/pulse" HOME="$dir/home"
export XDG_CONFIG_HOME="$dir/home/.config" XDG_STATE_HOME="$dir/home/.state" XDG_DATA_HOME="$dir/home/.data"
mkdir -p "$PULSE_RUNTIME_PATH" "$XDG_CONFIG_HOME" "$XDG_STATE_HOME" "$XDG_DATA_HOME"
chmod 700 "$XDG_RUNTIME_DIR"
socket="$dir/run/native"

wait_for_server() {
  local i
  for i in $(seq 100); do
    if pactl info >/dev/null 2>&1 && pactl list short sinks 2>/dev/null | grep -q velmora; then
      return 0
    fi
    sleep 0.1
  done
  echo "the private $server server did not come up; its log:" >&2
  cat "$dir"/*.log >&2 || true
  exit 2
}

case "$server" in
  pulseaudio)
    export PULSE_SERVER="unix:$socket"
    verbose=()
    [ -z "$logs" ] || verbose=(-vvvv --log-time=1)
    pulseaudio -n --daemonize=no --exit-idle-time=-1 --use-pid-file=no "${verbose[@]}" \
      -L "module-null-sink sink_name=velmora rate=48000 format=float32le channels=2" \
      -L "module-native-protocol-unix auth-anonymous=1 socket=$socket" \
      >"$dir/pulseaudio.log" 2>&1 &
    pids+=($!)
    wait_for_server
    ;;
  pipewire)
    # A private session bus, PipeWire with its session manager, and its PulseAudio interface.
    mkdir -p "$dir/run/pulse"
    dbus-daemon --session --nofork --nopidfile --address="unix:path=$dir/run/bus" >"$dir/dbus.log" 2>&1 &
    pids+=($!)
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/run/bus"
    for i in $(seq 50); do [ -S "$dir/run/bus" ] && break; sleep 0.1; done
    [ -z "$logs" ] || export PIPEWIRE_DEBUG=3 PIPEWIRE_LOG_TIMESTAMP=1
    pipewire >"$dir/pipewire.log" 2>&1 &
    pids+=($!)
    for i in $(seq 50); do [ -S "$dir/run/pipewire-0" ] && break; sleep 0.1; done
    wireplumber >"$dir/wireplumber.log" 2>&1 &
    pids+=($!)
    pipewire-pulse >"$dir/pipewire-pulse.log" 2>&1 &
    pids+=($!)
    export PULSE_SERVER="unix:$dir/run/pulse/native"
    for i in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
    pactl load-module module-null-sink sink_name=velmora rate=48000 format=float32le channels=2 \
      >/dev/null
    wait_for_server
    pactl set-default-sink velmora
    ;;
  *) echo "unknown server $server (pulseaudio or pipewire)" >&2; exit 2 ;;
esac

if [ "$load" = 1 ]; then
  for core in 1 2; do
    nice -n 0 bash -c 'while :; do :; done' &
    pids+=($!)
  done
fi

echo "server: $server ($(pactl info | sed -n 's/^Server Name: //p')), load: $([ "$load" = 1 ] && echo 'two busy loops' || echo idle)"
# What the server made of the synthesizer's stream, a few seconds in.
( sleep 4; pactl list sink-inputs 2>/dev/null | grep -E 'application.name|Buffer Latency|Sink Latency|node.latency|node.rate' \
    >"$dir/streams.txt" ) &
pids+=($!)
# What the stream holds queued as the server sees it, five times a second: the most in each ten
# seconds shows the buffer's size, its growth after an underrun and its way back down.
( start=$(date +%s%N)
  while :; do
    queued=$(pactl list sink-inputs 2>/dev/null | sed -n 's/^[[:space:]]*Buffer Latency: \([0-9]*\) usec/\1/p' | head -n 1)
    [ -z "$queued" ] || echo "$(( ($(date +%s%N) - start) / 1000000 )) $queued" >>"$dir/buffer.txt"
    sleep 0.2
  done ) &
pids+=($!)
# In the background so that a signal to this script ends the run at once.
"$bin" --source velmora.monitor "$@" &
pids+=($!)
status=0
wait "$!" || status=$?
if [ -s "$dir/streams.txt" ]; then
  echo "the server's view of the streams 4 s in:"
  sed 's/^[[:space:]]*/  /' "$dir/streams.txt"
fi
if [ -s "$dir/buffer.txt" ] && awk '$2 > 0 { found = 1 } END { exit !found }' "$dir/buffer.txt"; then
  echo "the most the stream held queued at the server in each 10 s (ms):"
  awk '{ w = int($1 / 10000); if ($2 > most[w]) most[w] = $2; if (w > last) last = w }
       END { line = " "; for (w = 0; w <= last; w++) line = line sprintf(" %d-%d s: %.1f;", 10 * w, 10 * w + 10, most[w] / 1000); print line }' \
    "$dir/buffer.txt"
fi
exit "$status"
