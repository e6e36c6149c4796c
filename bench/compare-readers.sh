#!/usr/bin/env bash
# Times each reader against ImageMagick on the same 1024 by 768 pictures: our decoding (Google
# Benchmark, bench_readers) next to `convert <file> -depth 8 rgb:/dev/null`, which decodes the
# file and writes the raw pixels nowhere (for Photoshop files only the merged image, which is
# what we read). ImageMagick reads no Paint Shop Pro files; GIMP's batch load (when gimp is
# installed) stands beside ours for them. The PNG files are also timed next to libpng's own
# decoding (bench_libpng), the yardstick for the PNG reader.
#   bench/compare-readers.sh [runs]    (ImageMagick runs per file, default 5)
# Builds the benchmarks in build-bench/ (Release) first. Nothing here is a test.
set -euo pipefail
cd "$(dirname "$0")/.."
runs=${1:-5}
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIFTPOST_BENCH=ON -DDRIFTPOST_TESTS=OFF \
  -DDRIFTPOST_WITH_QT=OFF >/dev/null
cmake --build build-bench --target bench_readers bench_libpng >/dev/null

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
"$convert" photo.ppm -compress RLE photo-rle.psd
"$convert" photo.ppm PNG24:photo.png
"$convert" photo.ppm -alpha set -channel A -fx 'i/w' +channel PNG32:photo-rgba.png
"$convert" photo.ppm -interlace PNG PNG24:photo-interlaced.png
python3 "$OLDPWD/bench/make-reader-inputs.py" photo.ppm photo256.ppm .
rm photo256.ppm
cd "$OLDPWD"

echo "== Driftpost benchmarks"
# The fastest of the runs of each benchmark (field 3 of the CSV rows is the wall time, 4 the
# CPU time): on a shared machine other work only ever adds time, so the fastest run is the
# one it disturbed least.
fastest() {
  local field=$1
  shift
  DRIFTPOST_BENCH_INPUTS="$inputs" "$@" --benchmark_format=csv 2>/dev/null |
    awk -F, -v field="$field" 'NR > 1 && $1 !~ /_(mean|median|stddev|cv)"$/ {
               gsub(/"/, "", $1)
               if (!($1 in best) || $field < best[$1]) best[$1] = $field
               if (!($1 in seen)) { seen[$1] = 1; order[++n] = $1 }
             }
             END { for (i = 1; i <= n; ++i) printf "  %-30s %10.2f ms\n", order[i], best[order[i]] }'
}
fastest 3 build-bench/bench/bench_readers --benchmark_repetitions=5 | tee "$inputs/ours.txt"

echo
echo "== Side by side: milliseconds to decode one picture (ImageMagick's include starting convert)"
printf "  %-22s %12s %12s\n" file Driftpost ImageMagick
for path in "$inputs"/photo*; do
  file=${path##*/}
  ours=$(awk -v name="BM_Decode/$file" '$1 == name { print $2 }' "$inputs/ours.txt")
  [ -n "$ours" ] || continue
  source=$path
  [ "${file##*.}" = psd ] && source="$path[0]"
  if "$convert" "$source" -depth 8 rgb:/dev/null 2>/dev/null; then
    start=$(date +%s%N)
    for _ in $(seq "$runs"); do "$convert" "$source" -depth 8 rgb:/dev/null; done
    end=$(date +%s%N)
    theirs=$(awk -v ns=$((end - start)) -v n="$runs" 'BEGIN { printf "%.2f", ns / n / 1e6 }')
  else
    theirs="cannot read"
  fi
  printf "  %-22s %12s %12s\n" "$file" "$ours" "$theirs"
done

# GIMP starts slowly: one batch run loads the file 4 × `runs` times, and a run that loads
# nothing is taken off.
gimp_batch_ms() {
  local loads=$1 path=$2 start end
  start=$(date +%s%N)
  gimp -i -d -f -b "(begin (define (load-times n) (if (> n 0) (begin (gimp-image-delete (car (gimp-file-load
    RUN-NONINTERACTIVE \"$path\" \"$path\"))) (load-times (- n 1))))) (load-times $loads))" -b '(gimp-quit 0)' \
    >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(((end - start) / 1000000))
}
if command -v gimp >/dev/null; then
  echo
  echo "== Paint Shop Pro beside GIMP 2.10's batch load: milliseconds per picture"
  printf "  %-22s %12s %12s\n" file Driftpost GIMP
  for path in "$inputs"/photo*.psp; do
    file=${path##*/}
    ours=$(awk -v name="BM_Decode/$file" '$1 == name { print $2 }' "$inputs/ours.txt")
    idle=$(gimp_batch_ms 0 "$path")
    busy=$(gimp_batch_ms $((4 * runs)) "$path")
    theirs=$(awk -v ms=$((busy - idle)) -v n=$((4 * runs)) 'BEGIN { printf "%.2f", ms / n }')
    printf "  %-22s %12s %12s\n" "$file" "$ours" "$theirs"
  done
fi
echo
echo "== PNG next to libpng: CPU milliseconds, fastest of ten runs interleaved in one program"
fastest 4 build-bench/bench/bench_libpng --benchmark_repetitions=10 --benchmark_enable_random_interleaving=true \
  >"$inputs/libpng.txt"
printf "  %-22s %12s %12s %8s\n" file Driftpost libpng ratio
awk '{ split($1, name, "/"); time[name[1], name[2]] = $2; files[name[2]] = 1 }
     END { for (file in files)
             printf "  %-22s %12.2f %12.2f %8.2f\n", file, time["BM_Decode", file], time["BM_Libpng", file],
                    time["BM_Decode", file] / time["BM_Libpng", file] }' "$inputs/libpng.txt" | sort
