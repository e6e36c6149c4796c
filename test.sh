#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test: the unit and integration
# tests of the Release build, then the Qt-free tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
driftpost_ensure_packages "${DRIFTPOST_BUILD_PACKAGES[@]}" "${DRIFTPOST_TEST_PACKAGES[@]}"

jobs=$(nproc)

echo "== Release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIFTPOST_TESTS=ON
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs"

echo "== Sanitizer build (AddressSanitizer, UndefinedBehaviorSanitizer) of the Qt-free tests"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DDRIFTPOST_WITH_QT=OFF -DDRIFTPOST_SANITIZE=ON \
  -DDRIFTPOST_TESTS=ON
cmake --build build-asan -j "$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"

echo "== All tests passed"
