#!/usr/bin/env bash
# Installs what is missing, builds, and starts the demo: the tool over a virtual device.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build -G Ninja >/dev/null
cmake --build build
exec build/src/app/velmora-usbtool-demo "$@"
