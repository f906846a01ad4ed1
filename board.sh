#!/usr/bin/env bash
# Installs what the results board needs, builds it and starts it on http://localhost:8080/ with
# its database in build/board.sqlite. Extra arguments go to velmora-board (see --help).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
cmake -S . -B build/board -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TESTS=OFF -DVELMORA_SANITIZE=OFF
cmake --build build/board -j2 --target velmora-board
echo "The board: http://localhost:8080/ (Ctrl+C stops it)" >&2
exec build/board/velmora-board --db build/board.sqlite --listen 127.0.0.1:8080 "$@"
