#!/usr/bin/env bash
# Builds the Debian package of an installed copy (its files in each user's XDG folders) into
# build-package/: driftpost_<version>-1_<architecture>.deb. Install it with
#   sudo apt install ./build-package/driftpost_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/packages.sh
driftpost_ensure_packages "${DRIFTPOST_BUILD_PACKAGES[@]}" dpkg-dev file

cmake -S . -B build-package -G Ninja -DCMAKE_BUILD_TYPE=Release -DDRIFTPOST_TESTS=OFF -DDRIFTPOST_XDG_FILES=ON
cmake --build build-package --target driftpost driftpost_desktop_icons
(cd build-package && cpack -G DEB)
ls build-package/driftpost_*.deb
