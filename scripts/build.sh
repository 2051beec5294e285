#!/usr/bin/env bash
# Installs what is missing, configures and builds into ./build.
# Extra arguments go to the configure step, e.g. -DPLEXISYNC_WERROR=ON.
# PLEXISYNC_BUILD_DIR chooses another build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
build="${PLEXISYNC_BUILD_DIR:-build}"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
cmake --build "$build" -j "$(nproc)"
