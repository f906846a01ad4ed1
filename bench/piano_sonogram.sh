#!/usr/bin/env bash
# The spectrograms of a held C4 (velocity 100, 4 s) from the practice piano and from the
# SoundFont's recorded piano, side by side, as the synthesizer renders them offline
# (practice_piano --wav). Needs sox and ImageMagick; build practice_piano first:
#
#   cmake --preset bench && cmake --build build/bench --target practice_piano
#   bench/piano_sonogram.sh [OUTPUT.png]     (default bench/piano-sonogram.png)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
bin="$here/../build/bench/bench/practice_piano"
out=${1:-"$here/piano-sonogram.png"}
[ -x "$bin" ] || { echo "no $bin: build it with 'cmake --preset bench && cmake --build build/bench --target practice_piano'" >&2; exit 2; }

dir=$(mktemp -d /tmp/velmora-spectrogram.XXXXXX)
trap 'rm -rf "$dir"' EXIT
"$bin" --wav "$dir" >"$dir/figures.txt"
# 0..4 kHz (resampled to 8 kHz): the first 15 partials of C4; 100 dB of range.
for piano in practice sampled; do
  sox "$dir/c4-$piano.wav" -n rate 8k spectrogram -x 640 -y 360 -z 100 \
    -t "C4, velocity 100, held 4 s: $piano piano" -c "Velmora synthesizer, offline render" -o "$dir/$piano.png"
done
convert "$dir/practice.png" "$dir/sampled.png" +append "$out"
echo "wrote $out"
