#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libusb-1.0-0-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  umockdev libumockdev-dev
  g++-mingw-w64-i686
  # velmora-isp's command line and its JSON report: header-only, so the Windows cross-compile
  # uses the same headers.
  libcli11-dev nlohmann-json3-dev
  xvfb xauth x11-utils xdotool imagemagick
  clang-format
  # The free faces that stand in for the window's designed fonts (src/app/font_substitutes.cpp):
  # Liberation Sans/Serif/Mono, DejaVu Sans (Condensed), Serif and Sans Mono, Carlito.
  fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra fonts-crosextra-carlito
)

# The program file loaders' fuzz target, built and run by test.sh with CI=true: clang and the
# libFuzzer runtime that comes with it.
packages+=(clang-14 libclang-rt-14-dev)

# What cmake --install and cpack make, and test.sh's checks of it (scripts/check-package.sh):
# rsvg-convert renders the icon's PNG sizes, scdoc writes the manual pages, man renders them;
# dpkg-shlibdeps and file find the package's dependencies; the validators and lintian judge.
packages+=(librsvg2-bin scdoc man-db dpkg-dev file desktop-file-utils appstream lintian)

# The 64-bit Windows cross-compile (test.sh builds both Windows layouts) and, with CI=true, wine64
# to run the Windows programs (scripts/check-windows.sh). The host runs no 32-bit code, so there
# is no wine32.
packages+=(g++-mingw-w64-x86-64-posix)
[ "${CI:-}" = "true" ] && packages+=(wine64)

# The production station's record: SQLite, and PostgreSQL through libpq; test.sh runs the
# station's tests against a throwaway server of Debian's postgresql as well.
packages+=(libsqlite3-dev libpq-dev postgresql)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q >/dev/null
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null
