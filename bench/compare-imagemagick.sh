#!/usr/bin/env bash
# Times the picture road against ImageMagick on the same files: each input scaled to fit
# 320 by 320 with the triangle filter and written as JPEG of quality 90.
#   bench/compare-imagemagick.sh [runs]    (ImageMagick runs per input, default 5)
# Builds the benchmarks in build-bench/ (Release) first. Nothing here is a test.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIFTPOST_BENCH=ON -DDRIFTPOST_TESTS=OFF \
  -DDRIFTPOST_WITH_QT=OFF >/dev/null
cmake --build build-bench --target bench_picture >/dev/null

inputs=$(mktemp -d)
trap 'rm -rf "$inputs"' EXIT
# The same kind of picture for both: smooth colours with grain.
make_photo() {
  "$convert" -size "$1" plasma:fractal -seed 7 -attenuate 0.3 +noise Gaussian "$2"
}
make_photo 640x480 "$inputs/photo640.bmp"
make_photo 4000x3000 "$inputs/photo4000.bmp"
make_photo 1024x768 "$inputs/photo1024.jpg"
make_photo 4000x3000 "$inputs/photo4000.jpg"

echo "== Driftpost benchmarks"
DRIFTPOST_BENCH_INPUTS="$inputs" build-bench/bench/bench_picture --benchmark_format=csv 2>/dev/null \
  | awk -F, 'NR > 1 { gsub(/"/, "", $1); printf "  %-40s %10.2f ms\n", $1, $3 }' | tee "$inputs/ours.txt"

echo
echo "== Road side by side: milliseconds per picture (load, fit 320x320 with the triangle filter, JPEG 90)"
printf "  %-16s %12s %12s\n" input Driftpost ImageMagick
for file in photo640.bmp photo4000.bmp photo1024.jpg photo4000.jpg; do
  ours=$(awk -v name="BM_Road/$file" '$1 == name { print $2 }' "$inputs/ours.txt")
  start=$(date +%s%N)
  for _ in $(seq "$runs"); do
    "$convert" "$inputs/$file" -filter Triangle -resize 320x320 -quality 90 "$inputs/out.jpg"
  done
  end=$(date +%s%N)
  theirs=$(awk -v ns=$((end - start)) -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }')
  printf "  %-16s %12s %12s\n" "$file" "$ours" "$theirs"
done
