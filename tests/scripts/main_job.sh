#!/usr/bin/env bash
# The README's main job runs to its end in a fresh home: every step shown,
# exit code 0.
set -euo pipefail
bin="$1"
home="$(mktemp -d /tmp/plexisync-main-job.XXXXXX)"
trap 'rm -rf "$home"' EXIT
out="$home.log"
PLEXISYNC_HOME="$home" bash "$(dirname "$0")/../../scripts/demo-run.sh" "$bin" >"$out" 2>&1 || { cat "$out"; exit 1; }
for line in "Arrived changes for the Dan Diaz contact" "Personal Folders/Contacts/Team: 1 removed" \
  "Carol now has 205 customers" "No updates available." "Demo finished"; do
  grep -qF -- "$line" "$out" || { cat "$out"; echo "FAIL: no \"$line\"" >&2; exit 1; }
done
rm -f "$out"
echo "main job: every step ran"
