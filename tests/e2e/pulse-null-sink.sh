#!/usr/bin/env bash
# A private PulseAudio server whose only output is a null sink, for runs without a sound card.
#   pulse-null-sink.sh start DIR [SINK [ARG...]]
#       starts it with DIR as its runtime folder and prints the value for PULSE_SERVER once it
#       answers; ARGs go to the null sink, e.g. rate=48000 format=float32le channels=2
#   pulse-null-sink.sh stop DIR
#       stops the server started there
# The sink (default "velmora") is the default sink; its monitor source is SINK.monitor.
# Works as root without --system: the server keeps to DIR and takes anonymous clients on its socket.
set -euo pipefail

usage() { echo "usage: $0 start DIR [SINK [ARG...]] | stop DIR" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
dir=$(realpath -m "$2")
sink=${3:-velmora}
shift $(($# < 3 ? $# : 3))
sink_args="$*"

case "$command" in
start)
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; exit 1; }
  if [ -f "$dir/pulseaudio.pid" ] && kill -0 "$(cat "$dir/pulseaudio.pid")" 2>/dev/null; then
    echo "a PulseAudio server of $dir already runs" >&2
    exit 1
  fi
  mkdir -p "$dir"
  socket="$dir/native"
  # -n: no default script, so nothing looks for sound cards, D-Bus or X11.
  HOME="$dir" XDG_RUNTIME_DIR="$dir" XDG_CONFIG_HOME="$dir/config" \
    pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 --disallow-exit \
    --log-target=stderr -L "module-null-sink sink_name=$sink${sink_args:+ $sink_args}" \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$socket" \
    </dev/null >"$dir/pulseaudio.log" 2>&1 &
  echo $! >"$dir/pulseaudio.pid"
  for _ in $(seq 100); do
    if PULSE_SERVER="unix:$socket" pactl info >/dev/null 2>&1; then
      echo "unix:$socket"
      exit 0
    fi
    kill -0 "$(cat "$dir/pulseaudio.pid")" 2>/dev/null || break
    sleep 0.05
  done
  echo "PulseAudio did not come up in $dir; its log:" >&2
  cat "$dir/pulseaudio.log" >&2
  "$0" stop "$dir" || true
  exit 1
  ;;
stop)
  pidfile="$dir/pulseaudio.pid"
  [ -f "$pidfile" ] || exit 0
  pid=$(cat "$pidfile")
  rm -f "$pidfile"
  kill "$pid" 2>/dev/null || exit 0
  for _ in $(seq 10); do
    kill -0 "$pid" 2>/dev/null || exit 0
    sleep 0.05
  done
  kill -9 "$pid" 2>/dev/null || true
  ;;
*) usage ;;
esac
