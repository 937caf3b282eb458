#!/usr/bin/env bash
# Configures and builds: "native" (unit tests), "windows" (both .exe files), or both by default.
set -euo pipefail
cd "$(dirname "$0")/.."

what="${1:-all}"
# Readers of the build's outputs (release/source_tree.py: finished_build) wait while this runs, and
# this waits for them, so that no program is taken half written.
mkdir -p build
exec 9>>build/.build-lock
if ! flock -n 9; then
  echo "build: waiting for another build, or for a release being made from the last one" >&2
  flock 9
fi
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Shows the build's warnings and errors, not its progress lines.
build_preset() {
  cmake --preset "$1" >/dev/null
  local status=0
  cmake --build --preset "$1" -- --no-print-directory -s >"$log" 2>&1 || status=$?
  grep -v '^\[' "$log" || true
  return "$status"
}
if [ "$what" = native ] || [ "$what" = all ]; then build_preset native; fi
if [ "$what" = windows ] || [ "$what" = all ]; then
  build_preset win-x64
  build_preset win-x86
fi
