#!/usr/bin/env bash
# The results board on SQLite and on PostgreSQL with one and two board servers, under the load of
# board_load (32 readers on the board page and names' pages, posts at 150/s meanwhile), and the
# board page's latency as the board grows from 1,000 to 1,000,000 posts. See bench/README.md.
#   bench/board_servers.sh [--seconds S] [--sizes "1000 10000 100000 1000000"] [--skip-load] [--skip-growth]
# Build first:  cmake --preset bench && cmake --build build/bench --target velmora-board board_servers_load
# PostgreSQL is a private cluster of its own (tests/board/private-postgres.sh), started here.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

if [ -z "${VELMORA_TEST_POSTGRES:-}" ]; then
  exec tests/board/private-postgres.sh "$0" "$@"
fi

seconds=20
sizes="1000 10000 100000 1000000"
load=yes
growth=yes
while [ "$#" -gt 0 ]; do
  case "$1" in
    --seconds) seconds="$2"; shift 2 ;;
    --sizes) sizes="$2"; shift 2 ;;
    --skip-load) load=""; shift ;;
    --skip-growth) growth=""; shift ;;
    *) echo "usage: $0 [--seconds S] [--sizes \"N ...\"] [--skip-load] [--skip-growth]" >&2; exit 2 ;;
  esac
done

board="$root/build/bench/velmora-board"
client="$root/build/bench/bench/board_servers_load"
for program in "$board" "$client"; do
  [ -x "$program" ] || { echo "$program is missing; build it (see the top of $0)" >&2; exit 1; }
done
work="$(mktemp -d /tmp/velmora-board-bench.XXXXXX)"
pids=()
# A server answers the requests it has before it ends; one still computing a long page is
# killed after 10 s.
stop_boards() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  pids=()
}
trap 'stop_boards; rm -rf "$work"' EXIT

admin() { $VELMORA_TEST_POSTGRES_ADMIN -d velmora_board "$@"; }
names=2000
secret="bench secret shared by the servers"

# Starts a board server on DATABASE with the benchmark's settings; its port in $started.
start_board() {
  local database="$1" log="$work/board-${#pids[@]}-$RANDOM.log"
  # More workers than the load keeps connections open (32 readers and 8 posters): a worker stays
  # with its connection while the client keeps it alive, so fewer would leave connections
  # waiting for the 5 s keep-alive timeout of another.
  "$board" --db "$database" --listen 127.0.0.1:0 --workers 48 --trusted-proxy 127.0.0.1 \
    --secret "$secret" 2>"$log" &
  pids+=($!)
  for _ in $(seq 300); do
    if started="$(grep -o 'answering on http://127.0.0.1:[0-9]*' "$log" | grep -o '[0-9]*$')"; then
      return
    fi
    sleep 0.1
  done
  echo "the board did not start: $(cat "$log")" >&2
  exit 1
}

# Fills DATABASE's board to COUNT posts: one post made through the board (which also makes the
# schema), then copies of it made by the database itself (bench/board_fill.py).
filled=()
fill() {
  local database="$1" count="$2" key
  key="$(printf '%s' "$database" | md5sum | cut -c1-8)"
  if [[ " ${filled[*]} " != *" $key "* ]]; then
    start_board "$database"
    # Retried: on a busy machine a first connection to PostgreSQL can outlast the board's 2 s.
    for attempt in 1 2 3 4 5; do
      python3 "$root/tests/package/post_report.py" "http://127.0.0.1:$started" "learner-1" \
        "$root/tests/package/board-report.txt" >/dev/null 2>&1 && break
      [ "$attempt" -lt 5 ] || { echo "the first post did not go in" >&2; exit 1; }
      sleep 1
    done
    stop_boards
    filled+=("$key")
  fi
  local begin=$SECONDS
  python3 "$root/bench/board_fill.py" "$database" "$count" "$names"
  echo "(filled to $count posts in $((SECONDS - begin)) s)" >&2
}

sqlite_db="$work/board.sqlite"
postgres_db="$VELMORA_TEST_POSTGRES"
run_load() {
  local label="$1"
  shift
  local urls=()
  for port in "$@"; do urls+=(--url "http://127.0.0.1:$port"); done
  "$client" "${urls[@]}" --warmup 3 --readers 32 --seconds "$seconds" --post-rate 150 --names "$names" --forwarded \
    --label "$label" --seed "$RANDOM" | tail -n +2 || true  # what went wrong is in its table
}

echo "# $(date -u +%Y-%m-%dT%H:%M:%SZ), $(nproc) cores, PostgreSQL $(admin -Atc 'show server_version'), ${seconds} s per run; load average before: $(cut -d' ' -f1-3 /proc/loadavg)"
if [ -n "$load" ]; then
  echo "## 100,000 posts; 32 readers (board page, name page in turn) and posts at 150/s"
  printf '%-28s %-20s %8s %9s %8s %8s %8s %s\n' run kind requests "per s" "p50 ms" "p99 ms" "max ms" \
    "not answered as expected"
  fill "$sqlite_db" 100000
  start_board "$sqlite_db"
  run_load "SQLite, 1 server" "$started"
  stop_boards
  fill "$postgres_db" 100000
  start_board "$postgres_db"
  first="$started"
  run_load "PostgreSQL, 1 server" "$first"
  start_board "$postgres_db"
  run_load "PostgreSQL, 2 servers" "$first" "$started"
  stop_boards
fi

if [ -n "$growth" ]; then
  echo "## As the board grows: 32 readers only (board page, name page in turn), ${seconds} s each;"
  echo "## then the board page alone, 32 readers, and the rankings page alone, one reader for 3 s"
  printf '%-28s %-20s %8s %9s %8s %8s %8s %s\n' run kind requests "per s" "p50 ms" "p99 ms" "max ms" \
    "not answered as expected"
  for backend in sqlite postgresql; do
    if [ "$backend" = sqlite ]; then database="$work/growth.sqlite"; else
      admin -qc "DROP DATABASE IF EXISTS velmora_growth WITH (FORCE)" -c "CREATE DATABASE velmora_growth OWNER velmora"
      database="${postgres_db%/*}/velmora_growth"
    fi
    for size in $sizes; do
      fill "$database" "$size"
      start_board "$database"
      "$client" --url "http://127.0.0.1:$started" --warmup 3 --readers 32 --seconds "$seconds" --post-rate 0 \
        --names "$names" --forwarded --label "$backend, $size posts" --seed "$RANDOM" | tail -n +2 | grep -v acknowledged || true
      # The board page alone, whose query must not grow with the board.
      "$client" --url "http://127.0.0.1:$started" --readers 32 --seconds "$seconds" --post-rate 0 --names "$names" \
        --pages board --forwarded --label "$backend, $size posts" --seed "$RANDOM" | tail -n +2 | grep -v acknowledged || true
      "$client" --url "http://127.0.0.1:$started" --readers 1 --seconds 3 --post-rate 0 --names "$names" \
        --pages rankings --label "$backend, $size posts" | tail -n +2 | grep -v acknowledged || true
      stop_boards
    done
  done
fi
