#!/usr/bin/env bash
# Renders the demo's window under a virtual X server (Xvfb) into the README's two pictures: the
# window as shipped (only the ISP page) and the demo's Parameter page.
# Usage: scripts/screenshot.sh [OUTPUT-DIR] [DEMO-BINARY]
# Default output folder docs/ (screenshot.png and screenshot-parameter.png); default binary
# build/src/app/velmora-usbtool-demo. The demo keeps its settings in a scratch folder here, never
# in the user's.
set -euo pipefail
cd "$(dirname "$0")/.."
outdir=${1:-docs}
demo=${2:-build/src/app/velmora-usbtool-demo}
settle=${SCREENSHOT_SETTLE_SECONDS:-3}  # detection finds the demo device within the first ticks

[ -x "$demo" ] || { echo "no demo program at $demo (build it first)" >&2; exit 1; }
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/install-deps.sh)" >&2; exit 1; }
done

workdir=$(mktemp -d)
xvfb_pid=""
demo_pid=""
cleanup() {
  [ -n "$demo_pid" ] && kill "$demo_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$workdir"
}
trap cleanup EXIT

# Xvfb picks a free display and writes its number to fd 3.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -dpi 96 -nolisten tcp 3>"$workdir/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 50); do
  [ -s "$workdir/display" ] && break
  sleep 0.1
done
[ -s "$workdir/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(cat "$workdir/display")"
export XDG_CONFIG_HOME="$workdir/config"

# shoot OUTPUT.png DEMO-OPTIONS...: starts the demo, waits for detection, writes the window.
shoot() {
  local out=$1
  shift
  QT_QPA_PLATFORM=xcb "$demo" "$@" >"$workdir/demo.log" 2>&1 &
  demo_pid=$!
  local windows window
  windows=$(timeout 20 xdotool search --sync --onlyvisible --pid "$demo_pid") || true
  window=${windows%%$'\n'*}
  [ -n "$window" ] || { cat "$workdir/demo.log" >&2; echo "the demo window did not appear" >&2; exit 1; }
  sleep "$settle"
  mkdir -p "$(dirname "$out")"
  import -window "$window" "$out"
  kill "$demo_pid" 2>/dev/null || true
  wait "$demo_pid" 2>/dev/null || true
  demo_pid=""
  echo "wrote $out"
}

shoot "$outdir/screenshot.png" --isp-only
shoot "$outdir/screenshot-parameter.png" --page Parameter
