#!/usr/bin/env bash
# Installs what Velmora needs, builds both editions and runs every test, then the same tests
# under AddressSanitizer and UndefinedBehaviorSanitizer. The build folders are CMakePresets.json's.
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
export QT_QPA_PLATFORM=offscreen

# The tests cover both editions in one build; the English program is built to prove it builds.
cmake --preset japanese
cmake --build --preset japanese
cmake --preset english
cmake --build --preset english
# Besides the logic and window tests, one end-to-end run of the program (CTest label e2e).
ctest --preset japanese

# Each program must come up and keep running; it is stopped after a few seconds.
for edition in japanese english; do
  status=0
  timeout 4 "build/$edition/$edition/vostrel" >/dev/null 2>&1 || status=$?
  if [ "$status" -ne 124 ]; then
    echo "vostrel ($edition) ended with status $status instead of running" >&2
    exit 1
  fi
done

# The Debian packages made from these builds: both editions installed side by side and run by a
# user who cannot write the programs' folders (./package.sh makes the Release ones).
for edition in japanese english; do
  rm -f "build/$edition"/*.deb
  (cd "build/$edition" && cpack -G DEB >/dev/null)
done
tests/package/check_packages.sh build/japanese/velmora_*.deb build/english/velmora-english_*.deb
# The results board's package, from a Release build of the board alone: installed, its service's
# command line started as the unit says, and posted to.
cmake --preset package-board
cmake --build --preset package-board
rm -f build/package-board/*.deb
cpack --preset package-board >/dev/null
tests/package/check_board_package.sh build/package-board/velmora-board_*.deb

cmake --preset sanitize
cmake --build --preset sanitize
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
ctest --preset sanitize
