#!/usr/bin/env bash
# Builds the Debian packages of both editions from Release builds and checks them:
#   build/package-japanese/velmora_<version>_<arch>.deb
#   build/package-english/velmora-english_<version>_<arch>.deb
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
for edition in japanese english; do
  cmake --preset "package-$edition"
  cmake --build --preset "package-$edition"
  rm -f "build/package-$edition"/*.deb
  cpack --preset "package-$edition"
done
tests/package/check_packages.sh build/package-japanese/velmora_*.deb build/package-english/velmora-english_*.deb
ls -l build/package-japanese/*.deb build/package-english/*.deb
