#!/usr/bin/env bash
# Installs, builds and runs the main job: three profiles share a contacts folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh
export PLEXISYNC_HOME="${PLEXISYNC_HOME:-$(mktemp -d /tmp/plexisync-demo.XXXXXX)}"
exec bash scripts/demo-run.sh build/src/cli/plexisync
