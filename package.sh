#!/usr/bin/env bash
# Builds the Debian packages of both editions and of the results board from Release builds and
# checks them:
#   build/package-japanese/velmora_<version>_<arch>.deb
#   build/package-english/velmora-english_<version>_<arch>.deb
#   build/package-board/velmora-board_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
for package in japanese english board; do
  cmake --preset "package-$package"
  cmake --build --preset "package-$package"
  rm -f "build/package-$package"/*.deb
  cpack --preset "package-$package"
done
tests/package/check_packages.sh build/package-japanese/velmora_*.deb build/package-english/velmora-english_*.deb
tests/package/check_board_package.sh build/package-board/velmora-board_*.deb
ls -l build/package-japanese/*.deb build/package-english/*.deb build/package-board/*.deb
