#!/usr/bin/env bash
# Installs what is missing, builds, and starts the demo: the tool over a virtual device. Without
# a display it runs the main job on the command line instead: velmora-isp flashes the demo
# firmware into the virtual chip.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): flashing the virtual chip with velmora-isp instead of opening the window."
  cmake --build build --target velmora-isp >/dev/null
  status=0
  build/src/cli/velmora-isp --virtual auto samples/velmora-demo-fw.hex || status=$?
  echo "To start the window, run ./run.sh in a desktop session (or with DISPLAY set to an X server)."
  exit "$status"
fi
cmake --build build
exec build/src/app/velmora-usbtool-demo "$@"
