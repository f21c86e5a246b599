#!/usr/bin/env bash
# Installs what the programs need, builds the one program it starts, and starts the demo: the
# tool over a virtual device. Without a display it runs the main job on the command line
# instead: velmora-isp flashes the demo firmware into the virtual chip.
# Only the programs' packages are installed and only the started program is built; ./test.sh
# installs and builds the rest.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh run
cmake -S . -B build -G Ninja >/dev/null

# Ninja's own status line shows the progress: in place on a terminal, one line a step otherwise.
build() {
  echo "Building $1 (the first build takes a few minutes)"
  NINJA_STATUS="[%f/%t] " cmake --build build --target "$1"
}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display (neither DISPLAY nor WAYLAND_DISPLAY is set): flashing the virtual chip with velmora-isp instead of opening the window."
  build velmora-isp
  status=0
  build/src/cli/velmora-isp --virtual auto samples/velmora-demo-fw.hex || status=$?
  echo "To start the window, run ./run.sh in a desktop session (or with DISPLAY set to an X server)."
  exit "$status"
fi
build velmora-usbtool-demo
exec build/src/app/velmora-usbtool-demo "$@"
