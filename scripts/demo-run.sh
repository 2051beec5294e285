#!/usr/bin/env bash
# The demonstration itself: two profiles on one machine.
set -euo pipefail
bin="$1"
echo "Profiles live in $PLEXISYNC_HOME"
"$bin" --help || true
