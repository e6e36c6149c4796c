#!/usr/bin/env bash
# Installs what is missing, builds Driftpost (Release) into build/ and starts it.
set -euo pipefail
cd "$(dirname "$0")"
. scripts/packages.sh
driftpost_ensure_packages "${DRIFTPOST_BUILD_PACKAGES[@]}"

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIFTPOST_TESTS=OFF
cmake --build build --target driftpost
exec build/driftpost "$@"
