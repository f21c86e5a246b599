#!/usr/bin/env bash
# Installs the Debian packages that are missing; does nothing when all are present.
#   scripts/install-deps.sh run    what building and running the programs needs (./run.sh)
#   scripts/install-deps.sh test   that and what the tests, the checks and the packaging need
#                                  (./test.sh; also the default)
set -euo pipefail

side=${1:-test}
case "$side" in
  run | test) ;;
  *)
    echo "usage: $0 [run|test]" >&2
    exit 2
    ;;
esac

# What the programs need: the compiler and build tools, Qt 6 Widgets, libusb, and the fonts.
run_packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev libusb-1.0-0-dev
  # velmora-isp's command line and its JSON report: header-only, so the Windows cross-compile
  # uses the same headers.
  libcli11-dev nlohmann-json3-dev
  # The free faces that stand in for the window's designed fonts (src/app/font_substitutes.cpp):
  # Liberation Sans/Serif/Mono, DejaVu Sans (Condensed), Serif and Sans Mono, Carlito.
  fonts-liberation2 fonts-dejavu-core fonts-dejavu-extra fonts-crosextra-carlito
)

# What only ./test.sh needs, on top of run_packages. Add test-side packages to this array.
packages=(
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  umockdev libumockdev-dev
  g++-mingw-w64-i686
  xvfb xauth x11-utils xdotool imagemagick
  clang-format
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

wanted=("${run_packages[@]}")
[ "$side" = run ] || wanted+=("${packages[@]}")

missing=()
for p in "${wanted[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing ${#missing[@]} missing packages (a few minutes on a fresh machine): ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! { $sudo apt-get update -q && $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
  cat "$log" >&2
  echo "Installing the packages failed (apt-get's output above)" >&2
  exit 1
fi
echo "Installed: ${missing[*]}"
