#!/usr/bin/env bash
# Configures and builds: "native" (unit tests), "windows" (both .exe files), or both by default.
set -euo pipefail
cd "$(dirname "$0")/.."

what="${1:-all}"
build_preset() {
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1" -- --no-print-directory -s 2>&1 | grep -v '^\[' || true
  [ "${PIPESTATUS[0]}" -eq 0 ]
}
if [ "$what" = native ] || [ "$what" = all ]; then build_preset native; fi
if [ "$what" = windows ] || [ "$what" = all ]; then
  build_preset win-x64
  build_preset win-x86
fi
