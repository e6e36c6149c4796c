# Installs the Debian packages that are missing; sourced by run.sh and test.sh.
# A second run finds everything installed and needs no network.

driftpost_ensure_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if ! dpkg -s "$package" >/dev/null 2>&1 || \
       ! dpkg -s "$package" 2>/dev/null | grep -q '^Status: install ok installed'; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing missing packages: ${missing[*]}"
  local sudo=""
  if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -q
  $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# What building and running the program needs.
DRIFTPOST_BUILD_PACKAGES=(
  g++ cmake ninja-build pkg-config
  qt6-base-dev libgl-dev
  libjpeg62-turbo-dev zlib1g-dev
  libcairo2-dev fonts-dejavu-core
)

# What the tests, fuzzers, benchmarks and their independent reference tools need.
DRIFTPOST_TEST_PACKAGES=(
  googletest libgtest-dev libgmock-dev libbenchmark-dev libpng-dev
  clang libclang-rt-14-dev
  imagemagick netpbm libjpeg-turbo-progs
  curl apache2-utils python3
  xvfb xauth
  desktop-file-utils dpkg-dev file x11-utils
  pstoedit ghostscript libwmf-bin
)
