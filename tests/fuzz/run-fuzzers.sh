#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a while (default 60 seconds),
# starting from its kept inputs. New inputs that crash are written to tests/data/fuzz/<name>/
# crash-*: fix the fault and keep the input there as a regression case.
set -euo pipefail
cd "$(dirname "$0")/../.."
seconds=${1:-60}
only=${2:-}
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDRIFTPOST_FUZZ=ON -DDRIFTPOST_TESTS=OFF -DDRIFTPOST_WITH_QT=OFF >/dev/null
cmake --build build-fuzz
for binary in build-fuzz/tests/fuzz/fuzz_*; do
  name=${binary##*/fuzz_}
  [ -n "$only" ] && [ "$name" != "$only" ] && continue
  corpus=tests/data/fuzz/$name
  work=build-fuzz/corpus/$name
  mkdir -p "$corpus" "$work"
  echo "== $name for ${seconds}s"
  "$binary" "$work" "$corpus" -max_total_time="$seconds" -artifact_prefix="$corpus/" \
    -print_final_stats=0 2>&1 | grep -E '^(Done|==[0-9]+==ERROR|SUMMARY|artifact)' || true
done
