#!/usr/bin/env bash
# Proves the Debian packages of both editions the way a user meets them:
#   check_packages.sh JAPANESE.deb ENGLISH.deb
# lintian finds neither an error nor a warning in either. Both unpack side by side without a
# shared file; each brings its command and its manual page, a launcher entry that
# desktop-file-validate accepts, AppStream metainfo that appstreamcli accepts and its icons from
# 16 to 256 pixels. Then each installed program, with an administrator's settings file beside it,
# is started on a private X display by a user who cannot write the program's folder: it must
# start from that file, save in the user's configuration folder, leave the file beside it as it
# was, and read the user's own file back at a second start.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
japanese_deb="$(realpath "$1")"
english_deb="$(realpath "$2")"

scratch="$(mktemp -d)"
xvfb_pid=""
cleanup() {
  [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
  chmod -R u+w "$scratch" 2>/dev/null || true
  rm -rf "$scratch"
}
trap cleanup EXIT
chmod 755 "$scratch"
root="$scratch/root"
fail() { echo "package check: $*" >&2; exit 1; }

# The user: one who cannot write the installed program's folder. Root writes anywhere, so root
# hands the runs (and lintian, which would rather not run as root) to nobody.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
  as_user=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups)
fi

# Both packages as Debian's own checker sees them, at its default level: the overrides the
# packages carry are the only tags let through.
mkdir "$scratch/lintian"
cp "$japanese_deb" "$english_deb" "$scratch/lintian/"
chmod -R a+rwX "$scratch/lintian"
"${as_user[@]}" env HOME="$scratch/lintian" TMPDIR="$scratch/lintian" \
  lintian --fail-on error,warning "$scratch/lintian"/*.deb || fail "lintian found errors or warnings (above)"

files_of() { dpkg-deb --fsys-tarfile "$1" | tar -t | grep -v '/$' | sort; }
shared="$(comm -12 <(files_of "$japanese_deb") <(files_of "$english_deb"))"
[ -z "$shared" ] || fail "both editions install $shared"
dpkg -x "$japanese_deb" "$root"
dpkg -x "$english_deb" "$root"

for edition in japanese:velmora:vostrel:org.example.velmora.Velmora \
               english:velmora-english:vostrel-english:org.example.velmora.VelmoraEnglish; do
  IFS=: read -r name package command id <<<"$edition"
  deb="$japanese_deb"; [ "$name" = english ] && deb="$english_deb"
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not $package"
  depends="$(dpkg-deb -f "$deb" Depends)"
  case "$depends" in *libqt6core6*) ;; *) fail "$package: no library dependencies in '$depends'" ;; esac
  case "$depends" in *"fluid-soundfont-gm | timgm6mb-soundfont"*) ;; *) fail "$package: no SoundFont in '$depends'" ;; esac
  [ "$(readlink -f "$root/usr/bin/$command")" = "$root/usr/lib/$package/vostrel" ] \
    || fail "$command does not lead to /usr/lib/$package/vostrel"
  man -l "$root/usr/share/man/man1/$command.1.gz" 2>/dev/null | grep -q "^NAME" \
    || fail "$command has no manual page"
  desktop="$root/usr/share/applications/$id.desktop"
  desktop-file-validate "$desktop"
  grep -qx "Exec=$command" "$desktop" || fail "$desktop does not start $command"
  grep -qx "Icon=$id" "$desktop" || fail "$desktop does not show the icon $id"
  appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml" >/dev/null \
    || appstreamcli validate --no-net "$root/usr/share/metainfo/$id.metainfo.xml"
  for size in 16 22 24 32 48 64 128 256; do
    icon="$root/usr/share/icons/hicolor/${size}x$size/apps/$id.png"
    [ "$(identify -format '%wx%h' "$icon")" = "${size}x$size" ] || fail "$icon is not $size pixels"
  done
done

# An administrator's start values beside each program, somewhere else than the defaults.
for package in velmora velmora-english; do
  printf '[window]\r\nTop=100\r\nLeft=140\r\n' >"$root/usr/lib/$package/vostrel.ini"
  cp "$root/usr/lib/$package/vostrel.ini" "$scratch/$package.ini"
done
# Anyone but root also loses the write permission of the unpacked folders.
chmod -R a-w "$root/usr"
home="$scratch/home"
mkdir -p "$home"
[ "$(id -u)" -ne 0 ] || chown "$(id -u nobody):$(id -g nobody)" "$home"

Xvfb -displayfd 5 -nolisten tcp -screen 0 1024x768x24 5>"$scratch/display" 2>"$scratch/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$scratch/display" ] && break; sleep 0.1; done
[ -s "$scratch/display" ] || fail "the X server did not start: $(cat "$scratch/xvfb.log")"
display=":$(head -n1 "$scratch/display")"

# Starts the installed command, lets x11_user.py answer its boxes and close it; the settings
# file that start read and the one it wrote are the caller's to check.
run_as_user() {
  local command="$1"
  shift
  "${as_user[@]}" env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 DISPLAY="$display" QT_QPA_PLATFORM=xcb \
    "$@" "$root/usr/bin/$command" >"$scratch/$command.log" 2>&1 &
  local pid=$!
  python3 "$here/x11_user.py" "$display" "$pid" Velmora 調整 tuning || {
    kill "$pid" 2>/dev/null || true
    cat "$scratch/$command.log" >&2
    fail "$command did not close"
  }
  wait "$pid" || fail "$command ended with status $?"
}

check_edition() {
  local command="$1" package="$2" settings="$3"
  shift 3
  run_as_user "$command" "$@"
  [ -f "$settings" ] || fail "$command saved no settings at $settings"
  cmp -s "$root/usr/lib/$package/vostrel.ini" "$scratch/$package.ini" || fail "$command wrote beside the program"
  grep -q '^\[window\]' "$settings" && grep -q '^gakki=' "$settings" || fail "$settings lacks the settings"
  grep -q $'^Left=140\r$' "$settings" && grep -q $'^Top=100\r$' "$settings" \
    || fail "$command did not start from /usr/lib/$package/vostrel.ini: $(tr -d '\r' <"$settings" | tr '\n' ' ')"
  # Somewhere else than the administrator's values, so only a second start that read the user's
  # file writes this place back.
  sed -i -e 's/^Left=[-0-9]*/Left=120/' -e 's/^Top=[-0-9]*/Top=90/' "$settings"
  run_as_user "$command" "$@"
  grep -q $'^Left=120\r$' "$settings" && grep -q $'^Top=90\r$' "$settings" \
    || fail "$command did not read back $settings: $(tr -d '\r' <"$settings" | tr '\n' ' ')"
  echo "$command: settings kept in $settings"
}

check_edition vostrel velmora "$home/.config/velmora/vostrel.ini"
check_edition vostrel-english velmora-english "$home/xdg/velmora-english/vostrel.ini" XDG_CONFIG_HOME="$home/xdg"
echo "packages: lintian-clean, both editions install side by side, launch, start from the settings beside them and keep their own per user"
