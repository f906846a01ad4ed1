#!/usr/bin/env bash
# Installs what Velmora needs, builds it and starts it: ./run.sh [japanese|english]
set -euo pipefail
cd "$(dirname "$0")"
edition="${1:-japanese}"
case "$edition" in
  japanese) Edition=Japanese ;;
  english) Edition=English ;;
  *) echo "usage: $0 [japanese|english]" >&2; exit 2 ;;
esac
./setup.sh
cmake -S . -B "build/run-$edition" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DEdition="$Edition" \
  -DVELMORA_TESTS=OFF -DVELMORA_SANITIZE=OFF
cmake --build "build/run-$edition" -j2 --target vostrel
exec "build/run-$edition/$edition/vostrel"
