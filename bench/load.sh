#!/usr/bin/env bash
# Measures Driftpost's HTTP server under load, side by side with nginx serving the same bytes
# as static files: requests per second for the index page and MB per second for a 10 MB
# Others file, each with ab (ApacheBench), and Driftpost's share of nginx's figure. Then the
# picture road: for /id.ajpeg (decode, fit into 320 by 320 with the triangle filter, JPEG of
# quality 90) of a 640 by 480 bitmap, a 1024 by 768 JPEG and a 4000 by 3000 JPEG, all in the
# same run:
#   - milliseconds per request, ab with one client against the running program, and the
#     program's own processor time per request (user and system, from /proc), which a
#     machine shared with other work disturbs far less than the time a client waits;
#   - the floor: libjpeg-turbo alone decoding the file at full size and encoding a picture of
#     the fitted size (bench/JpegFloor.c, best of 10), and our time as a share of it; beside
#     it the library alone decoding at the scale we decode at (its entropy decoding of the
#     whole file bounds what scaled decoding can save), also as a share of the floor;
#   - ImageMagick's convert doing the same conversion, and how many times faster we are;
#   - the program's peak memory while it answers, above the idle program (its peak resident
#     size, reset before each picture, less its resident size before any request: pictures
#     are measured first), beside the size of the picture as a 24-bit bitmap;
#   - how close our answer is to ImageMagick's triangle resize of the full picture (PSNR).
#
#   bench/load.sh [requests for the index page] [requests for the large file]
#                 [requests per small picture] [requests for the 4000 by 3000 picture]
#
# PARTS=files or PARTS=pictures measures only that half. Installs nginx, ab, ImageMagick and
# TurboJPEG from Debian's packages when missing (where installing starts services, Debian
# also starts its own nginx on port 80; this script neither uses nor stops it). Both
# servers run on loopback ports of their own (DRIFTPOST_PORT, NGINX_PORT), from a temporary
# folder that is removed at the end; nginx runs with a configuration of its own there.
# Not part of the tests: the figures depend on the machine.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
driftpost_ensure_packages "${DRIFTPOST_BUILD_PACKAGES[@]}" nginx apache2-utils curl imagemagick libturbojpeg0-dev

index_requests=${1:-5000}
file_requests=${2:-100}
picture_requests=${3:-100}
large_picture_requests=${4:-10}
concurrency=${CONCURRENCY:-50}
file_concurrency=${FILE_CONCURRENCY:-5}
parts=${PARTS:-all}
# The server converts one picture at a time: with one client, a request's time is the
# conversion's own, comparable with one run of convert.
picture_concurrency=${PICTURE_CONCURRENCY:-1}
convert=/usr/bin/convert
[ -x "$convert" ] || convert=convert
driftpost_port=${DRIFTPOST_PORT:-18480}
nginx_port=${NGINX_PORT:-18481}

# DRIFTPOST names another build of the program to measure, for example a copy kept from
# before a change.
program=${DRIFTPOST:-build/driftpost}
if [ -z "${DRIFTPOST:-}" ] && [ ! -x build/driftpost ]; then
  cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build build --target driftpost
fi

work=$(mktemp -d /tmp/driftpost-load-XXXXXX)
# nginx's workers may run as another user: they must be able to read what they serve.
chmod 755 "$work"
driftpost_pid=""
nginx_pid=""
finish() {
  [ -n "$driftpost_pid" ] && kill "$driftpost_pid" 2>/dev/null && wait "$driftpost_pid" 2>/dev/null
  [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap finish EXIT

wait_for_port() {
  for _ in $(seq 100); do
    curl -s -o /dev/null "http://127.0.0.1:$1/" && return 0
    sleep 0.1
  done
  echo "nothing answers on port $1" >&2
  return 1
}

# Driftpost, sharing the large file and a few others so that the index page has some rows.
mkdir -p "$work/driftpost" "$work/shared" "$work/www"
cp "$program" "$work/driftpost/driftpost"
head -c $((10 * 1024 * 1024)) /dev/urandom > "$work/shared/large.bin"
: > "$work/driftpost/driftpost.container"
for name in cat.bmp dog.jpg tune.wav tool.pkg notes.txt; do
  echo "$name" > "$work/shared/$name"
  printf '%s\r\n' "$work/shared/$name" >> "$work/driftpost/driftpost.container"
done
printf '%s\r\n' "$work/shared/large.bin" >> "$work/driftpost/driftpost.container"
# Photo-like pictures: smooth colours with grain.
"$convert" -seed 7 -size 640x480 plasma:fractal -attenuate 0.3 +noise Gaussian -type TrueColor \
  "bmp3:$work/shared/photo640.bmp"
"$convert" -seed 7 -size 1024x768 plasma:fractal -attenuate 0.3 +noise Gaussian -quality 90 "$work/shared/photo1024.jpg"
"$convert" -seed 7 -size 4000x3000 plasma:fractal -attenuate 0.3 +noise Gaussian -quality 90 \
  "$work/shared/photo4000.jpg"
for name in photo640.bmp photo1024.jpg photo4000.jpg; do
  printf '%s\r\n' "$work/shared/$name" >> "$work/driftpost/driftpost.container"
done
printf '[Data]\r\nPort=%s\r\n' "$driftpost_port" > "$work/driftpost/driftpost.ini"
(cd "$work/driftpost" && exec ./driftpost >/dev/null 2>&1) &
driftpost_pid=$!
wait_for_port "$driftpost_port"

# nginx, serving Driftpost's index page and the same large file as static files.
curl -s "http://127.0.0.1:$driftpost_port/" > "$work/www/index.html"
ln "$work/shared/large.bin" "$work/www/large.bin"
chmod 644 "$work/www/"*
mkdir -p "$work/nginx/logs"
cat > "$work/nginx/nginx.conf" <<EOF
# One worker, as Driftpost answers on one thread.
worker_processes 1;
error_log $work/nginx/logs/error.log;
pid $work/nginx/nginx.pid;
events { worker_connections 1024; }
http {
  access_log off;
  default_type application/octet-stream;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
EOF
nginx -p "$work/nginx" -e "$work/nginx/logs/error.log" -c "$work/nginx/nginx.conf" -g 'daemon off;' &
nginx_pid=$!
wait_for_port "$nginx_port"

large_path=$(printf '%s' "$work/shared/large.bin" | sed 's/ /%20/g')

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }

requests_per_second() {  # url requests
  ab -q -s 120 -n "$2" -c "$concurrency" "$1" | awk '/^Failed requests/ { if ($3 != 0) print "failed: " $3 > "/dev/stderr" }
                                             /^Requests per second/ { print $4 }'
}
megabytes_per_second() {  # url requests
  ab -q -s 120 -n "$2" -c "$file_concurrency" "$1" |
    awk '/^Failed requests/ { if ($3 != 0) print "failed: " $3 > "/dev/stderr" }
         /^Transfer rate/ { printf "%.1f\n", $3 / 1024 }'
}

if [ "$parts" != files ]; then

  # The yardstick: libjpeg-turbo's decoder and encoder and nothing else.
  cc -O2 -o "$work/JpegFloor" bench/JpegFloor.c -lturbojpeg -lm

  # ab's milliseconds per request for one URL (the mean time one client waits for its answer).
  picture_milliseconds() {  # url requests
    ab -q -n "$2" -c "$picture_concurrency" "$1" |
      awk '/^Failed requests/ { if ($3 != 0) print "failed: " $3 > "/dev/stderr" }
           /^Non-2xx responses/ { print "not answered with 200: " $3 > "/dev/stderr" }
           /^Time per request/ && !ms { ms = $4 }
           END { printf "%.1f\n", ms }'
  }
  # ImageMagick's convert doing the same conversion: milliseconds per conversion, run one after
  # the other.
  convert_milliseconds() {  # file runs
    local start end
    start=$(date +%s%N)
    for _ in $(seq "$2"); do
      "$convert" "$1" -filter Triangle -resize 320x320 -quality 90 "$work/convert-out.jpg"
    done
    end=$(date +%s%N)
    awk -v ns=$((end - start)) -v n="$2" 'BEGIN { printf "%.1f\n", ns / n / 1e6 }'
  }
  # The program's processor time so far (user and system), in clock ticks.
  cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$driftpost_pid/stat"; }
  # A figure of the program's /proc status, in MiB.
  status_mib() {  # field
    awk -v field="$1:" '$1 == field { printf "%.1f\n", $2 / 1024 }' "/proc/$driftpost_pid/status"
  }
  # How close our answer is to ImageMagick's triangle resize of the full picture, in dB.
  picture_psnr() {  # url file
    curl -s -o "$work/answer.jpg" "$1"
    "$convert" "$2" -filter Triangle -resize 320x320 "$work/reference.png"
    # compare's exit status says whether the pictures differ; the figure is what counts here.
    { compare -metric PSNR "$work/answer.jpg" "$work/reference.png" null: 2>&1 || true; } | awk '{ printf "%.2f\n", $1 }'
  }

  # The pictures come first, while the program has answered nothing else: its resident size now
  # is the idle program's.
  idle=$(status_mib VmRSS)
  picture_rows=()
  for name in photo640.bmp photo1024.jpg photo4000.jpg; do
    requests=$picture_requests
    [ "$name" = photo4000.jpg ] && requests=$large_picture_requests
    id=$(curl -s "http://127.0.0.1:$driftpost_port/" | grep -o "[0-9]*\.html\">$name<" | cut -d. -f1)
    url="http://127.0.0.1:$driftpost_port/$id.ajpeg"
    # Writing 5 to clear_refs resets the peak resident size to the current one.
    echo 5 > "/proc/$driftpost_pid/clear_refs"
    ticks=$(cpu_ticks)
    ours=$(picture_milliseconds "$url" "$requests")
    cpu=$(awk -v ticks=$(($(cpu_ticks) - ticks)) -v hz="$(getconf CLK_TCK)" -v n="$requests" \
      'BEGIN { printf "%.1f\n", ticks * 1000 / hz / n }')
    peak=$(awk -v hwm="$(status_mib VmHWM)" -v idle="$idle" 'BEGIN { printf "%.1f\n", hwm - idle }')
    size=$(identify -ping -format '%w %h' "$work/shared/$name")
    bitmap=$(awk -v size="$size" 'BEGIN { split(size, s, " "); printf "%.1f\n", s[1] * 3 * s[2] / 1048576 }')
    floor=- scaled=-
    case "$name" in *.jpg) read -r floor scaled < <("$work/JpegFloor" "$work/shared/$name" 10) ;; esac
    theirs=$(convert_milliseconds "$work/shared/$name" "$((requests < 20 ? requests : 20))")
    psnr=$(picture_psnr "$url" "$work/shared/$name")
    picture_rows+=("$name $ours $cpu $floor $scaled $theirs $peak $bitmap $psnr")
  done

  printf '%-13s %6s %6s %6s %6s %6s %6s %6s %7s %7s %7s %6s %6s\n' "/id.ajpeg of" "ms" "cpu" "floor" "ms/fl" \
    "cpu/fl" "scaled" "sc/fl" "convert" "conv/ms" "peakMiB" "bitmap" "PSNR"
  for row in "${picture_rows[@]}"; do
    read -r name ours cpu floor scaled theirs peak bitmap psnr <<<"$row"
    printf '%-13s %6s %6s %6s %6s %6s %6s %6s %7s %7s %7s %6s %6s\n' "$name" "$ours" "$cpu" "$floor" \
      "$(ratio "$ours" "$floor")" "$(ratio "$cpu" "$floor")" "$scaled" "$(ratio "$scaled" "$floor")" "$theirs" \
      "$(ratio "$theirs" "$ours")" "$peak" "$bitmap" "$psnr"
  done
  echo "(fit into 320x320, triangle filter, JPEG quality 90; ms: ab with $picture_concurrency client(s), mean;"
  echo " cpu: the program's processor time per request;"
  echo " floor: libjpeg-turbo decoding the file at full size and encoding the fitted size, best of 10,"
  echo " processor time;"
  echo " scaled: the same with the file decoded at the scale Driftpost decodes it at; x/fl: x over the floor;"
  echo " conv/ms: convert's time over ours; bitmap: the picture as a 24-bit bitmap, MiB;"
  echo " convert: one process after another; peak: the program's peak resident size during the requests"
  echo " above the idle program's resident size; PSNR of our answer against convert's triangle resize, dB)"
fi

if [ "$parts" != pictures ]; then
  index_driftpost=$(requests_per_second "http://127.0.0.1:$driftpost_port/" "$index_requests")
  index_nginx=$(requests_per_second "http://127.0.0.1:$nginx_port/index.html" "$index_requests")
  file_driftpost=$(megabytes_per_second "http://127.0.0.1:$driftpost_port$large_path" "$file_requests")
  file_nginx=$(megabytes_per_second "http://127.0.0.1:$nginx_port/large.bin" "$file_requests")
  printf '%-34s %12s %12s %8s\n' "" "Driftpost" "nginx" "ratio"
  printf '%-34s %12s %12s %8s\n' "index page ($(stat -c %s "$work/www/index.html") bytes), requests/s" \
    "$index_driftpost" "$index_nginx" "$(ratio "$index_driftpost" "$index_nginx")"
  printf '%-34s %12s %12s %8s\n' "10 MB Others file, MB/s" "$file_driftpost" "$file_nginx" \
    "$(ratio "$file_driftpost" "$file_nginx")"
  echo "(ab, $concurrency concurrent clients for the index page, $file_concurrency for the file; nginx with one" \
    "worker; $(nproc) cores)"
fi
