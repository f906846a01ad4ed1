#!/usr/bin/env bash
# Proves the velmora-board package the way an administrator meets it:
#   check_board_package.sh velmora-board_VERSION_ARCH.deb
# lintian finds neither an error nor a warning. The package brings the program, both systemd
# units (which systemd-analyze accepts), the settings file as a conffile, the manual page and the
# nginx example. Installed (dpkg -i, as root; purged again afterwards), the service's command line
# is started as its unit says (settings file, working and state directory, dynamic user, umask;
# no systemd runs here): it must answer, take a post into the SQLite file in its state directory
# and stop cleanly on SIGTERM.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
deb="$(realpath "$1")"

scratch="$(mktemp -d)"
board_pid=""
installed_here=""
cleanup() {
  [ -z "$board_pid" ] || kill "$board_pid" 2>/dev/null || true
  [ -z "$installed_here" ] || dpkg --purge velmora-board >/dev/null 2>&1 || true
  rm -rf "$scratch"
}
trap cleanup EXIT
chmod 755 "$scratch"
fail() { echo "board package check: $*" >&2; exit 1; }

as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
fi
mkdir "$scratch/lintian"
cp "$deb" "$scratch/lintian/"
chmod -R a+rwX "$scratch/lintian"
"${as_user[@]}" env HOME="$scratch/lintian" TMPDIR="$scratch/lintian" \
  lintian --fail-on error,warning "$scratch/lintian"/*.deb || fail "lintian found errors or warnings (above)"

[ "$(dpkg-deb -f "$deb" Package)" = velmora-board ] || fail "$deb is not velmora-board"
depends="$(dpkg-deb -f "$deb" Depends)"
for needed in libqt6sql6-sqlite libqt6sql6-psql libsodium libqt6core6; do
  case "$depends" in *"$needed"*) ;; *) fail "no $needed in Depends: $depends" ;; esac
done
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/velmora-board/velmora-board.conf \
  || fail "the settings file is not a conffile"
files="$(dpkg-deb --fsys-tarfile "$deb" | tar -t)"
for path in ./usr/bin/velmora-board ./lib/systemd/system/velmora-board.service \
            ./lib/systemd/system/velmora-board@.service ./etc/velmora-board/velmora-board.conf \
            ./usr/share/man/man1/velmora-board.1.gz \
            ./usr/share/doc/velmora-board/examples/nginx-velmora-board.conf; do
  grep -qx "$path" <<<"$files" || fail "the package lacks $path"
done
# The nginx example does what it says: TLS, the body limit, a request limit, the forwarded
# address, two board servers.
dpkg -x "$deb" "$scratch/unpacked"
nginx_example="$scratch/unpacked/usr/share/doc/velmora-board/examples/nginx-velmora-board.conf"
for line in 'listen 443 ssl' 'client_max_body_size 16k;' 'limit_req zone=' 'X-Forwarded-For $remote_addr;' \
            'server 127.0.0.1:8080;' 'server 127.0.0.1:8081;'; do
  grep -qF "$line" "$nginx_example" || fail "the nginx example lacks '$line'"
done
man -l "$scratch/unpacked/usr/share/man/man1/velmora-board.1.gz" 2>/dev/null | grep -q -- "--trusted-proxy" \
  || fail "the manual page does not render or lacks --trusted-proxy"

if [ "$(id -u)" -ne 0 ]; then
  echo "board package: lintian-clean and complete; installing and running it needs root, skipped"
  exit 0
fi
if dpkg-query -W -f='${Status}' velmora-board 2>/dev/null | grep -q 'install ok installed'; then
  fail "velmora-board is installed on this machine already; remove it to let the check install its own"
fi
dpkg -i "$deb" >"$scratch/dpkg.log" 2>&1 || { cat "$scratch/dpkg.log" >&2; fail "dpkg -i failed"; }
installed_here=yes
[ -x /usr/bin/velmora-board ] || fail "/usr/bin/velmora-board is not there after installing"
if command -v systemd-analyze >/dev/null; then
  for unit in velmora-board.service velmora-board@8081.service; do
    systemd-analyze verify --man=no "$unit" || fail "systemd-analyze does not accept $unit"
  done
fi
/usr/bin/velmora-board --help | grep -q -- "--trusted-proxy" || fail "velmora-board --help lacks --trusted-proxy"

# The administrator's settings: the shipped file with another port, as one would edit it.
port=""
for _ in $(seq 20); do
  candidate=$((20000 + RANDOM % 30000))
  (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null || { port="$candidate"; break; }
done
[ -n "$port" ] || fail "no free port"
sed "s/^VELMORA_BOARD_LISTEN=.*/VELMORA_BOARD_LISTEN=127.0.0.1:$port/" /etc/velmora-board/velmora-board.conf \
  >"$scratch/velmora-board.conf"
state="$scratch/state"
python3 "$here/run_unit.py" /lib/systemd/system/velmora-board.service "$state" \
  --environment-file "$scratch/velmora-board.conf" 2>"$scratch/board.log" &
board_pid=$!
for _ in $(seq 100); do
  (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
  kill -0 "$board_pid" 2>/dev/null || { cat "$scratch/board.log" >&2; fail "the service's command ended"; }
  sleep 0.2
done
id="$(python3 "$here/post_report.py" "http://127.0.0.1:$port" "Package check" "$here/board-report.txt")" \
  || { cat "$scratch/board.log" >&2; fail "posting to the installed board failed"; }
[ "$(stat -c '%U %a' "$state/board.sqlite")" = "nobody 600" ] \
  || fail "the database is not the dynamic user's alone in the state directory: $(ls -l "$state")"
kill -TERM "$board_pid"
status=0
wait "$board_pid" || status=$?
board_pid=""
[ "$status" -eq 0 ] || { cat "$scratch/board.log" >&2; fail "the board ended with status $status on SIGTERM"; }

dpkg --purge velmora-board >/dev/null
installed_here=""
[ ! -e /etc/velmora-board/velmora-board.conf ] || fail "purging left /etc/velmora-board/velmora-board.conf"
echo "board package: lintian-clean; installed, the service's command line answered on port $port," \
     "took post $id into $state/board.sqlite as nobody and stopped on SIGTERM; purged"
