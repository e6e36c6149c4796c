#!/usr/bin/env bash
# Times each reader against ImageMagick on the same 1024 by 768 pictures: our decoding (Google
# Benchmark, bench_readers) next to `convert <file> -depth 8 rgb:/dev/null`, which decodes the
# file and writes the raw pixels nowhere.
#   bench/compare-readers.sh [runs]    (ImageMagick runs per file, default 5)
# Builds the benchmarks in build-bench/ (Release) first. Nothing here is a test.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIFTPOST_BENCH=ON -DDRIFTPOST_TESTS=OFF \
  -DDRIFTPOST_WITH_QT=OFF >/dev/null
cmake --build build-bench --target bench_readers >/dev/null

inputs=$(mktemp -d)
trap 'rm -rf "$inputs"' EXIT
# Smooth colours with grain, as a photograph has: runs are short, so packing has real work.
"$convert" -size 1024x768 plasma:fractal -seed 7 -attenuate 0.3 +noise Gaussian -depth 8 "$inputs/photo.ppm"
"$convert" "$inputs/photo.ppm" -colors 256 -depth 8 "$inputs/photo256.ppm"
cd "$inputs"
"$convert" photo.ppm photo.tga
"$convert" photo.ppm -compress RLE photo-rle.tga
"$convert" photo256.ppm -type Palette photo-cmap.tga
"$convert" photo.ppm photo.pcx
"$convert" photo256.ppm -type Palette photo256.pcx
"$convert" photo.ppm photo-rle.sgi
"$convert" photo.ppm -compress None photo.sgi
"$convert" photo.ppm -compress none ppm:photo-plain.ppm
"$convert" photo.ppm -colorspace Gray pgm:photo.pgm
"$convert" photo.ppm -monochrome pbm:photo.pbm
python3 "$OLDPWD/bench/make-reader-inputs.py" photo.ppm photo256.ppm .
# TIFF: plain strips, deflate with the horizontal predictor, JPEG, and one-dimensional fax.
ppm2tiff photo.ppm photo-none.tif
tiffcp -c zip:2 photo-none.tif photo-zip-pred.tif
tiffcp -c jpeg photo-none.tif photo-jpeg.tif
ppm2tiff photo.pbm photo-bw.tif && tiffcp -c g3:1d photo-bw.tif photo-g3.tif && rm photo-bw.tif
rm photo256.ppm
cd "$OLDPWD"

echo "== Driftpost benchmarks"
DRIFTPOST_BENCH_INPUTS="$inputs" build-bench/bench/bench_readers --benchmark_format=csv 2>/dev/null |
  awk -F, 'NR > 1 { gsub(/"/, "", $1); printf "  %-30s %10.2f ms\n", $1, $3 }' | tee "$inputs/ours.txt"

echo
echo "== Side by side: milliseconds to decode one picture (ImageMagick's include starting convert)"
printf "  %-18s %12s %12s\n" file Driftpost ImageMagick
for path in "$inputs"/photo*; do
  file=${path##*/}
  ours=$(awk -v name="BM_Decode/$file" '$1 == name { print $2 }' "$inputs/ours.txt")
  [ -n "$ours" ] || continue
  if "$convert" "$path" -depth 8 rgb:/dev/null 2>/dev/null; then
    start=$(date +%s%N)
    for _ in $(seq "$runs"); do "$convert" "$path" -depth 8 rgb:/dev/null; done
    end=$(date +%s%N)
    theirs=$(awk -v ns=$((end - start)) -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }')
  else
    theirs="cannot read"
  fi
  printf "  %-18s %12s %12s\n" "$file" "$ours" "$theirs"
done
