#!/usr/bin/env bash
# Plays the built program (Japanese edition) as a user would, under Xvfb with a real window manager
# (openbox) and a private PulseAudio server whose null sink the built-in synthesizer plays into:
# computer keys and mouse clicks on the keyboard, the reference A, one slider step, the score
# button, the copy button, then the main window closed through the window manager. Then a second
# start and close with no move, whose stored window must read back as it was written; a third at
# twice the scale, whose adjustment window must lie wholly on the 1920 x 1200 screen.
#   run-program.sh PROGRAM [FAILURE_DIR]
# On failure the screen at each failed check, the logs and the settings file are left in
# FAILURE_DIR (default ./e2e-failure). Needs Xvfb, openbox, xdotool, xwininfo, xprop, xdpyinfo,
# xclip, ImageMagick, pulseaudio, pactl and parec; setup.sh installs them.
set -uo pipefail
export LC_ALL=C.UTF-8

program=$(realpath "${1:?usage: $0 PROGRAM [FAILURE_DIR]}")
failure_dir=$(realpath -m "${2:-e2e-failure}")
here=$(cd "$(dirname "$0")" && pwd)

# Window titles of the Japanese edition; the report lines checked below are its texts too.
main_title='Velmora'
adjust_title='調整'
results_title='正解表示'

started=$(date +%s%N)
elapsed() { echo $(( ($(date +%s%N) - started) / 1000000 ))ms; }
say() { echo "e2e [$(elapsed)] $*"; }

work=$(mktemp -d /tmp/velmora-e2e.XXXXXX)
rm -f "$failure_dir"/screen-*.png "$failure_dir"/*.log "$failure_dir"/vostrel.ini "$failure_dir"/clipboard.txt
xvfb_pid='' openbox_pid='' app_pid='' parec_pid=''
failures=0

# Stops a process of ours, asking first; $2 is how many tenths of a second it gets (default 10).
stop_pid() {
  local pid=$1
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq "${2:-10}"); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
}

# Stops our Xvfb; if it had to be killed, removes the lock and socket of its display itself.
stop_xvfb() {
  [ -n "$xvfb_pid" ] || return 0
  stop_pid "$xvfb_pid" 50
  xvfb_pid=''
  if [ -n "${display_number:-}" ] && [ "$(cat "/tmp/.X$display_number-lock" 2>/dev/null | tr -d ' ')" = "$xvfb_started" ]; then
    rm -f "/tmp/.X$display_number-lock" "/tmp/.X11-unix/X$display_number"
  fi
}

cleanup() {
  local status=$?
  if [ "$status" -ne 0 ] && [ -n "${DISPLAY:-}" ]; then
    mkdir -p "$failure_dir"
    cp "$work"/screen-*.png "$work"/*.log "$work"/pulse/pulseaudio.log "$work"/app/vostrel.ini "$work"/clipboard.txt "$failure_dir/" 2>/dev/null
    echo "e2e: screens at each failure, logs and settings file left in $failure_dir"
  fi
  stop_pid "$parec_pid"
  stop_pid "$app_pid"
  stop_pid "$openbox_pid"
  stop_xvfb
  "$here/pulse-null-sink.sh" stop "$work/pulse"
  rm -rf "$work"
  exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# The screen as it was when a check failed, numbered in order.
shots=0
shoot() { [ -n "${DISPLAY:-}" ] && shots=$((shots + 1)) && import -window root "$work/screen-$shots.png" 2>/dev/null; }
# A fault that the later steps depend on ends the run; a stored-value mismatch is counted.
fail() { echo "e2e FAIL: $*"; shoot; exit 1; }
check() { if ! eval "$1"; then echo "e2e FAIL: $2"; shoot; failures=$((failures + 1)); fi; }

for tool in Xvfb openbox xdotool xwininfo xprop xdpyinfo xclip import convert pulseaudio pactl parec; do
  command -v "$tool" >/dev/null || fail "$tool is missing (./setup.sh installs it)"
done
[ -x "$program" ] || fail "no program at $program"

# Waits up to $2 seconds for `eval $1` to succeed.
wait_until() {
  local deadline=$(( $(date +%s%N) + $2 * 1000000000 ))
  until eval "$1"; do
    [ "$(date +%s%N)" -lt "$deadline" ] || return 1
    sleep 0.05
  done
}

# --- a private display, window manager and sound server ---------------------------------------
mkdir -p "$work/home" "$work/runtime" "$work/app"
chmod 700 "$work/runtime"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" XDG_CONFIG_HOME="$work/home/.config"
unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY

# A display of our own with openbox on it. The number is drawn above 200, away from the low ones
# other X servers of the machine tend to take, and skipped when its lock, its socket file or its
# abstract socket (seen by every process of the machine) exists. -displayfd tells when the server
# accepts clients; -noreset keeps it from resetting, and refusing clients meanwhile, whenever its
# last client leaves (a probe of ours or of anyone). A number taken meanwhile, or a display that
# openbox cannot take, means: next.
start_display() {
  local n=$((200 + RANDOM % 600)) tries
  for tries in $(seq 10); do
    n=$((n + 1))
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] || grep -q "@/tmp/.X11-unix/X$n\$" /proc/net/unix; then
      continue
    fi
    : >"$work/display"
    exec {display_fd}>"$work/display"
    Xvfb ":$n" -displayfd "$display_fd" -screen 0 1920x1200x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$! display_number=$n xvfb_started=$xvfb_pid
    exec {display_fd}>&-
    if wait_until '[ -s "$work/display" ] || ! kill -0 "$xvfb_pid" 2>/dev/null' 10 && [ -s "$work/display" ] \
      && xdpyinfo -display ":$n" >/dev/null 2>&1; then
      export DISPLAY=":$n"
      openbox --sm-disable >"$work/openbox.log" 2>&1 &
      openbox_pid=$!
      if wait_until 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" || ! kill -0 "$openbox_pid" 2>/dev/null' 10 \
        && kill -0 "$openbox_pid" 2>/dev/null; then
        return 0
      fi
      echo "e2e: openbox could not take over display :$n, trying another: $(cat "$work/openbox.log")"
      stop_pid "$openbox_pid"
      openbox_pid=''
      unset DISPLAY
    fi
    stop_xvfb
  done
  return 1
}
start_display || fail "no display with openbox in 10 tries; the last Xvfb log: $(cat "$work/xvfb.log")"

pulse_server=$("$here/pulse-null-sink.sh" start "$work/pulse" velmora) || fail "PulseAudio did not start"
export PULSE_SERVER="$pulse_server"
say "display $DISPLAY, openbox, PulseAudio null sink at $PULSE_SERVER"

# The program keeps its settings beside itself: a copy in the scratch folder starts with none.
cp "$program" "$work/app/vostrel"

# --- helpers for windows ------------------------------------------------------------------------
window_id() { xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1; }

# Sets X, Y (screen position of the window's own area, inside the frame), W and H.
read_geometry() {
  local info
  info=$(xwininfo -id "$1") || fail "window $1 vanished"
  X=$(awk '/Absolute upper-left X/ {print $4}' <<<"$info")
  Y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$info")
  W=$(awk '/^ *Width:/ {print $2}' <<<"$info")
  H=$(awk '/^ *Height:/ {print $2}' <<<"$info")
}

# Sets FL, FR, FT, FB: the frame the window manager draws around the window.
read_frame() {
  local extents
  extents=$(xprop -id "$1" _NET_FRAME_EXTENTS | sed -n 's/.*= *//p' | tr -d ' ')
  IFS=, read -r FL FR FT FB <<<"$extents"
  [ -n "$FB" ] || fail "the window manager reports no frame for window $1"
}

activate() {
  xdotool windowactivate --sync "$1" >/dev/null 2>&1 || fail "could not activate window $1"
  wait_until "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $1 ]" 3 || fail "window $1 did not become active"
}

# Prints the colour (#RRGGBB) of the pixel at ($2, $3) of window $1's own area as the screen shows it.
pixel() {
  import -window "$1" -crop "1x1+$2+$3" -depth 8 txt:- 2>/dev/null | awk 'NR == 2 {print $3}'
}

# Sets colour to the pixel at ($2, $3) of window $1 once it turns red, or after 2 s.
lit() { wait_until "colour=\$(pixel $1 $2 $3); [ \"\$colour\" = \"#FF0000\" ]" 2; }

click_at() { xdotool mousemove "$1" "$2" click 1; }

start_program() {
  ( cd "$work/app" && exec env QT_QPA_PLATFORM=xcb NO_AT_BRIDGE=1 ./vostrel ) >"$work/vostrel-$1.log" 2>&1 &
  app_pid=$!
  wait_until '[ -n "$(window_id "$main_title")" ] && [ -n "$(window_id "$adjust_title")" ]' 15 \
    || fail "start $1: the main and adjustment windows did not appear within 15 s"
  main=$(window_id "$main_title")
  say "start $1: main and adjustment windows shown"
}

# Closes the main window with Alt+F4, the window manager's close, and waits for the program to end.
# Its windows must go within 3 s (the shutdown waits 1.3 s for the synthesizer). The process then
# waits for a running pitch calibration of the synthesizer to finish, which on a loaded machine
# takes seconds when the close comes soon after the start; it must not hang.
close_program() {
  activate "$main"
  local before gone status=0
  before=$(date +%s%N)
  xdotool key alt+F4
  wait_until '[ -z "$(window_id "$main_title")" ]' 3 \
    || fail "start $1: the main window is still shown 3 s after it was closed"
  gone=$(( ($(date +%s%N) - before) / 1000000 ))
  wait_until '! kill -0 "$app_pid" 2>/dev/null' 10 \
    || fail "start $1: the program still runs 10 s after its windows went away"
  wait "$app_pid" || status=$?
  app_pid=''
  say "start $1: main window gone $gone ms and program ended $(( ($(date +%s%N) - before) / 1000000 )) ms after the close, status $status"
  [ "$status" -eq 0 ] || fail "start $1: the program ended with status $status"
}

# Prints the value of key $2 in section $1 of the settings file (sections and keys as written).
stored() { tr -d '\r' <"$work/app/vostrel.ini" | awk -F= -v s="[$1]" -v k="$2" '/^\[/ {in_s = ($0 == s)} in_s && $1 == k {print substr($0, length(k) + 2); exit}'; }

# --- first start: play, score, copy, close ------------------------------------------------------
start_program 1

sink_inputs() { pactl list short sink-inputs 2>/dev/null | wc -l; }
wait_until '[ "$(sink_inputs)" -ge 1 ]' 5 || fail "the built-in synthesizer opened no stream on the PulseAudio server"

# Drag the main window by its title bar, so that the position stored at the close is not the default.
read_geometry "$main"
read_frame "$main"
from_x=$((X + W / 2)) from_y=$((Y - FT / 2))
xdotool mousemove "$from_x" "$from_y" mousedown 1
for step in 1 2 3 4 5 6; do
  xdotool mousemove "$((from_x + 50 * step))" "$((from_y + 7 * step))"
  sleep 0.05
done
xdotool mouseup 1
old_x=$X old_y=$Y
wait_until 'read_geometry "$main"; [ "$X" -ne "$old_x" ]' 3 || fail "dragging the title bar did not move the main window"
say "main window dragged from $old_x,$old_y to $X,$Y"

# The keyboard's top edge: the first black row in a column of the lowest white key, left of its black key.
activate "$main"
import -window "$main" "$work/window.png" || fail "could not capture the main window"
keys_top=$(convert "$work/window.png" -crop "1x$H+4+0" +repage -depth 8 txt:- \
  | awk 'NR > 1 && $3 == "#000000" {split($1, at, /[,:]/); print at[2]; exit}')
[ -n "$keys_top" ] || fail "no keyboard found in the main window"

# Record the null sink while the keys are played: the keys must be heard there.
parec -d velmora.monitor --format=s16le --rate=8000 --channels=1 --raw >"$work/keys.raw" 2>"$work/parec.log" &
parec_pid=$!
wait_until '[ -s "$work/keys.raw" ]' 3 || fail "could not record the null sink"

# Computer keys A S D F play F3 G3 A3 B3 (white keys 1 to 4); each lights its key while held.
key_x=(8 32 56 88)
key_name=(a s d f)
for i in 0 1 2 3; do
  xdotool keydown "${key_name[$i]}"
  lit "$main" "${key_x[$i]}" $((keys_top + 90))
  sleep 0.1
  xdotool keyup "${key_name[$i]}"
  check '[ "$colour" = "#FF0000" ]' "computer key ${key_name[$i]^^} did not light white key $((i + 1)) red (colour $colour)"
done
# Mouse presses on C4 (white key 5) and C#4 (the black key right of it).
for target in "100 $((keys_top + 90)) C4" "120 $((keys_top + 30)) C#4"; do
  read -r kx ky name <<<"$target"
  xdotool mousemove "$((X + kx))" "$((Y + ky))" mousedown 1
  lit "$main" "$kx" "$ky"
  sleep 0.1
  xdotool mouseup 1
  check '[ "$colour" = "#FF0000" ]' "a mouse press on $name did not light it red (colour $colour)"
done
sleep 0.2
stop_pid "$parec_pid"
parec_pid=''
loudest=$(od -An -td2 -v -w2 "$work/keys.raw" | awk '{v = $1 < 0 ? -$1 : $1; if (v > m) m = v} END {print m + 0}')
check '[ "$loudest" -gt 300 ]' "the keys were not heard on the null sink (loudest sample $loudest of 32767)"
say "played A S D F and clicked C4 C#4; loudest sample on the null sink $loudest"

# The reference A button (below the keyboard, left), then one step right on the C slider.
click_at "$((X + 40))" "$((Y + keys_top + 132))"
adjust=$(window_id "$adjust_title")
activate "$adjust"
read_geometry "$adjust"
click_at "$((X + 155))" "$((Y + 32))"
sleep 0.5

# The score button opens the results window.
activate "$adjust"
click_at "$((X + 92))" "$((Y + 428))"
wait_until '[ -n "$(window_id "$results_title")" ]' 5 || fail "the score button did not open the results window"
results=$(window_id "$results_title")
say "scored; results window shown"

# The copy button puts the 26-line report on the clipboard.
activate "$results"
read_geometry "$results"
click_at "$((X + 132))" "$((Y + 404))"
clip_lines() { xclip -o -selection clipboard 2>/dev/null >"$work/clipboard.txt"; wc -l <"$work/clipboard.txt"; }
wait_until '[ "$(clip_lines)" -ge 26 ]' 5 || fail "the copy button put no 26-line report on the clipboard"
lines=$(clip_lines)
line() { sed -n "$1p" "$work/clipboard.txt" | tr -d '\r'; }
rule=---------------------------------
check '[ "$lines" -eq 26 ]' "the clipboard holds $lines lines instead of 26"
crlf_lines=$(grep -c $'\r$' "$work/clipboard.txt")
check '[ "$crlf_lines" -eq 26 ]' "only $crlf_lines of the report's lines end with CR LF"
check '[ "$(line 1)" = "$rule" ] && [ "$(line 26)" = "$rule" ]' "the report does not open and close with its rule line"
check '[[ "$(line 3)" =~ ^C\ 　　　[1-9][0-9]*　　　　　　-?[0-9]+$ ]]' "the report's C row does not show the slider step: '$(line 3)'"
check '[ "$(line 21)" = "基準音の使用：使用" ]' "the report does not show the reference A as used: '$(line 21)'"
check '[ "$(line 25)" = "Velmora Version 1.34" ]' "the report's version line is '$(line 25)'"
report_device=$(line 18)
say "report of $lines lines on the clipboard"

# Close the main window through the window manager; remember where its frame was.
read_geometry "$main"
read_frame "$main"
frame_left=$((X - FL)) frame_top=$((Y - FT))
close_program 1

[ -f "$work/app/vostrel.ini" ] || fail "no settings file vostrel.ini beside the program after the close"
for key in window:Height window:Width window:Top window:Left dev:dev_num dev:map; do
  value=$(stored "${key%%:*}" "${key#*:}")
  check '[[ "$value" =~ ^-?[0-9]+$ ]]' "settings file: [${key%%:*}] ${key#*:} is '$value', not an integer"
done
gakki=$(stored dev gakki)
check '[ -n "$gakki" ] && [ "$report_device" = "使用音源：$gakki" ]' \
  "settings file: [dev] gakki '$gakki' is not the device of the report ('$report_device')"
check '[ "$(stored dev map)" = 4 ]' "settings file: [dev] map is '$(stored dev map)' instead of 4"
first=$(for k in Left Top Width Height; do printf '%s=%s ' "$k" "$(stored window "$k")"; done)
check '[ "$(stored window Left),$(stored window Top)" = "$frame_left,$frame_top" ]' \
  "settings file: the stored position $(stored window Left),$(stored window Top) is not where the main window's frame was at the close ($frame_left,$frame_top)"
say "settings file written: $first gakki=$gakki"

# --- second start, no move: the stored window must read back unchanged ----------------------------
start_program 2
# The frame is known only once the window is shown, so the window may settle after it appears.
wait_until 'read_geometry "$main"; read_frame "$main"; [ "$((X - FL)),$((Y - FT))" = "$frame_left,$frame_top" ]' 3
check '[ "$((X - FL)),$((Y - FT))" = "$frame_left,$frame_top" ]' \
  "second start: the main window's frame opened at $((X - FL)),$((Y - FT)), not where it was closed ($frame_left,$frame_top)"
close_program 2
second=$(for k in Left Top Width Height; do printf '%s=%s ' "$k" "$(stored window "$k")"; done)
check '[ "$second" = "$first" ]' "second start and close without a move changed the stored window: $first-> $second"

# --- third start at twice the scale: the adjustment window lies wholly on the screen ------------
read -r screen_w screen_h <<<"$(xdpyinfo | awk '/dimensions:/ {sub(/x/, " ", $2); print $2}')"
export QT_SCALE_FACTOR=2
start_program 3
unset QT_SCALE_FACTOR
adjust=$(window_id "$adjust_title")
wait_until 'read_geometry "$adjust"; read_frame "$adjust"; [ "$((Y + H + FB))" -le "$screen_h" ]' 3
check '[ "$((X - FL))" -ge 0 ] && [ "$((Y - FT))" -ge 0 ] && [ "$((X + W + FR))" -le "$screen_w" ] && [ "$((Y + H + FB))" -le "$screen_h" ]' \
  "twice the scale: the adjustment window's frame $((X - FL)),$((Y - FT)) to $((X + W + FR)),$((Y + H + FB)) is not within the ${screen_w}x$screen_h screen"
say "twice the scale: adjustment window's frame at $((X - FL)),$((Y - FT)) to $((X + W + FR)),$((Y + H + FB)) on the ${screen_w}x$screen_h screen"
close_program 3

if [ "$failures" -gt 0 ]; then
  echo "e2e: $failures check(s) failed in $(elapsed)"
  exit 1
fi
say "passed"
