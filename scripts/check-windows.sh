#!/usr/bin/env bash
# Runs the Windows programs under wine and holds them against the Linux build: velmora-isp.exe
# gets the same commands as build/src/cli/velmora-isp (on the virtual chip where a device is
# needed) and must print the same, exit the same and write the same files; line ends and times
# are masked. velmora-usbprobe.exe searches through SetupAPI, and velmora-settingsprobe.exe
# saves the settings in the registry and loads them back. The x86_64 programs always run; the
# i686 ones only where the host executes 32-bit code.
#
#   scripts/check-windows.sh [LINUX_BUILD [WIN64_BUILD [WIN32_BUILD]]]
#   (defaults build, build-win64, build-win32; ./test.sh builds all three and runs this with CI=true)
#
# Installs wine64 when it is missing. Each run has a fresh wine prefix in a temporary folder,
# removed at the end with its wine server. Prints what installing, the prefix and the runs cost.
set -euo pipefail
cd "$(dirname "$0")/.."
linux=${1:-build}
win64=${2:-build-win64}
win32=${3:-build-win32}

now() { date +%s.%N; }
since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f s", b - a }'; }

start=$(now)
dpkg -s wine64 >/dev/null 2>&1 || CI=true scripts/install-deps.sh
install_cost=$(since "$start")
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

for program in "$linux/src/cli/velmora-isp" "$win64/src/cli/velmora-isp.exe" \
  "$win64/src/app/settings/velmora-settingsprobe.exe" "$win64/src/device/velmora-usbprobe.exe"; do
  [ -f "$program" ] || {
    echo "missing $program: build it first (see ./test.sh)" >&2
    exit 1
  }
done
linux_isp=$(realpath "$linux/src/cli/velmora-isp")

work=$(mktemp -d)
# Console programs only: no display, and no offer to install wine's .NET or HTML engines, which
# would wait for a click where a display is set.
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The server is started first and kept up between the calls (about 0.3 s a call then).
start=$(now)
mkdir "$WINEPREFIX"
"$wineserver" -p
"$wine" wineboot -i >/dev/null 2>&1
prefix_cost=$(since "$start")

# Inputs for both sides: the demo image, and a copy with a user table inserted at 0x800 for
# patch-table (the samples hold none).
mkdir -p "$work/in"
cp samples/velmora-demo-fw.hex samples/velmora-demo-fw.bin "$work/in/"
cp samples/velmora-demo-fw.bin "$work/in/fw-table.bin"
printf 'VLUSB_Table01' | dd of="$work/in/fw-table.bin" bs=1 seek=$((0x800)) conv=notrunc status=none

# Times, rates and the host name's case differ from run to run and system to system; Windows
# ends its lines in CR LF. The Windows build has no station: every --help entry that names it (with
# its wrapped lines) and the note that says so are left out, and so are trailing blank lines.
mask() {
  sed -E -e 's/\r$//' "$1" |
    awk '/^  [^ ]/ { skip = /station/ } /^[^ ]/ || /^$/ { skip = 0 } !skip && !/station/' |
    awk '/^$/ { blank++; next } { while (blank > 0) { print ""; blank-- } print }' |
    sed -E -e 's/[0-9]+\.[0-9]+ s\b/T s/g' -e 's/\([0-9.]+ [KMG]?i?B\/s\)/(RATE)/g' \
      -e 's/("seconds": )[0-9.eE+-]+/\1T/' -e 's/("(host|started|finished)": )"[^"]*"/\1"X"/'
}

failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

# run_both DIR_WIN EXE EXPECTED_EXIT ARGS...: the command in $work/linux and in DIR_WIN, both
# started in their folder with the same arguments; output and exit code compared.
run_both() {
  local dir=$1 exe=$2 expected=$3 name
  shift 3
  name=$(echo "$*" | tr -c 'A-Za-z0-9\n-' '_')
  local lcode=0 wcode=0
  (cd "$work/linux" && "$linux_isp" "$@" >"$work/out/$name.linux.out" \
    2>"$work/out/$name.linux.err") || lcode=$?
  (cd "$dir" && "$wine" "$exe" "$@" >"$work/out/$name.win.out" 2>"$work/out/$name.win.err") ||
    wcode=$?
  local verdict="same output, exit $wcode"
  for stream in out err; do
    if ! diff -u <(mask "$work/out/$name.linux.$stream") <(mask "$work/out/$name.win.$stream") \
      >"$work/out/$name.$stream.diff"; then
      verdict="std$stream differs"
      cat "$work/out/$name.$stream.diff"
    fi
  done
  [ "$lcode" = "$expected" ] || verdict="$verdict; Linux exit $lcode, not $expected"
  [ "$wcode" = "$lcode" ] || verdict="$verdict; Windows exit $wcode, Linux $lcode"
  case $verdict in
  "same output, exit $wcode") echo "  ok   $*: $verdict" ;;
  *) fail "$*: $verdict" ;;
  esac
}

# check_isp ARCH EXE: the command battery, then every file both sides wrote.
check_isp() {
  local arch=$1 exe dir=$work/win-$1
  exe=$(realpath "$2")
  rm -rf "$work/linux" "$work/out"
  mkdir -p "$work/linux" "$work/out" "$dir"
  cp "$work"/in/* "$work/linux/"
  cp "$work"/in/* "$dir/"
  echo "== $arch velmora-isp.exe against the Linux build"
  local virtual=(--virtual --virtual-flash flash.bin)
  run_both "$dir" "$exe" 0 --help
  run_both "$dir" "$exe" 0 --version
  run_both "$dir" "$exe" 3 detect
  run_both "$dir" "$exe" 0 image info velmora-demo-fw.hex
  run_both "$dir" "$exe" 2 image info missing.hex
  run_both "$dir" "$exe" 0 image dump velmora-demo-fw.hex dump.bin
  run_both "$dir" "$exe" 0 "${virtual[@]}" auto velmora-demo-fw.hex --log auto.json
  run_both "$dir" "$exe" 0 "${virtual[@]}" read-back readback.bin
  run_both "$dir" "$exe" 0 patch-table fw-table.bin fw-patched.bin --vid 1d7a --serial SN-0001
  run_both "$dir" "$exe" 0 "${virtual[@]}" status
  local files
  files=$(ls "$work/linux")
  if [ "$files" != "$(ls "$dir")" ]; then
    fail "$arch: the two sides wrote different files"
    diff <(echo "$files") <(ls "$dir") || true
  fi
  for f in $files; do
    case $f in
    *.json) diff -q <(mask "$work/linux/$f") <(mask "$dir/$f") >/dev/null ||
      fail "$arch: $f differs (times masked)" ;;
    *) cmp -s "$work/linux/$f" "$dir/$f" || fail "$arch: $f differs" ;;
    esac
  done
  echo "  files written by both sides compared: ${files//$'\n'/ }"
}

# check_settings ARCH EXE: save and load through the registry store, in the registry's 32-bit
# view, where reg.exe must find the values with their types.
check_settings() {
  local arch=$1 exe key='HKLM\Software\Velmora\USBTool' out code=0 before=$failures
  exe=$(realpath "$2")
  echo "== $arch registry store: save, load back, the values in the 32-bit view"
  "$wine" reg delete "$key" /reg:32 /f >/dev/null 2>&1 || true
  out=$("$wine" "$exe" 2>&1 | tr -d '\r') || code=$?
  [ "$code" = 1 ] && [ "$out" = 'HKEY_LOCAL_MACHINE\Software\Velmora\USBTool: absent' ] ||
    fail "$arch: before the first save the probe said ($code) $out"
  code=0
  out=$("$wine" "$exe" save 0x000404FF 'C:\velmora\fw demo.hex' 6CCF 6012 2>&1 | tr -d '\r') ||
    code=$?
  echo "$out" | sed 's/^/  /'
  [ "$code" = 0 ] && [ "$out" = 'ISPSetting = 0x000404FF (steps 1 1 1 1 1 1 1, range All, start 32 KB, size 32 KB)
ISPFileName = "C:\velmora\fw demo.hex"
UsbVIDSet = "6CCF"
UsbPIDSet = "6012"' ] || fail "$arch: save and load back (exit $code)"
  out=$("$wine" reg query "$key" /reg:32 2>&1 | tr -d '\r' | sed -E 's/[[:space:]]+/ /g') || true
  for value in 'ISPSetting REG_DWORD 0x404ff' 'ISPFileName REG_SZ C:\velmora\fw demo.hex' \
    'UsbVIDSet REG_SZ 6CCF' 'UsbPIDSet REG_SZ 6012'; do
    grep -qxF " $value" <<<"$out" || fail "$arch: the 32-bit view lacks $value"
  done
  if "$wine" reg query "$key" /reg:64 >/dev/null 2>&1; then
    fail "$arch: the key is in the 64-bit view"
  fi
  # What another writer puts in the 32-bit view is what the store loads.
  "$wine" reg add "$key" /v UsbPIDSet /t REG_SZ /d 6013 /reg:32 /f >/dev/null 2>&1 || true
  out=$("$wine" "$exe" 2>&1 | tr -d '\r') || true
  grep -qxF 'UsbPIDSet = "6013"' <<<"$out" || fail "$arch: a value added by reg.exe was not loaded"
  [ "$failures" -gt "$before" ] || echo "  ok   saved, loaded back, REG_DWORD and REG_SZ in the 32-bit view"
}

# check_usbprobe ARCH EXE: the device link's SetupAPI search for real; wine lists both interface
# classes, with no device in either.
check_usbprobe() {
  local arch=$1 out code=0
  out=$("$wine" "$(realpath "$2")" 2>&1 | tr -d '\r') || code=$?
  [ "$code" = 1 ] && [ "$out" = 'generic driver: 0 interface(s)
audio driver (property): 0 interface(s)
generic driver, vid_6ccf&pid_6000: not present
generic driver, vid_1d7a&pid_6000: not present
audio driver (property), vid_6ccf&pid_6012: not present' ] &&
    echo "== $arch velmora-usbprobe.exe: both interface lists obtained, no device in them" ||
    fail "$arch: velmora-usbprobe.exe said ($code) $out"
}

start=$(now)
check_usbprobe x86_64 "$win64/src/device/velmora-usbprobe.exe"
check_isp x86_64 "$win64/src/cli/velmora-isp.exe"
check_settings x86_64 "$win64/src/app/settings/velmora-settingsprobe.exe"

# A 32-bit program under a wine that cannot start it prints nothing and may still exit 0.
if [ -f "$win32/src/cli/velmora-isp.exe" ] &&
  [ "$("$wine" "$(realpath "$win32/src/cli/velmora-isp.exe")" --version 2>/dev/null | tr -d '\r')" = \
    "$("$linux_isp" --version)" ]; then
  check_usbprobe i686 "$win32/src/device/velmora-usbprobe.exe"
  check_isp i686 "$win32/src/cli/velmora-isp.exe"
  check_settings i686 "$win32/src/app/settings/velmora-settingsprobe.exe"
else
  echo "== i686: not run, this host does not execute 32-bit Windows programs (built only)"
fi
run_cost=$(since "$start")

echo "wine costs: install $install_cost (0 when present), prefix $prefix_cost, runs $run_cost"
if [ "$failures" -gt 0 ]; then
  echo "$failures Windows check(s) failed" >&2
  exit 1
fi
echo "Windows programs under wine: all checks passed"
