#!/usr/bin/env bash
# Builds both programs and starts dist/x64/vivediz.exe under Wine in the project's own prefix.
# Without a display it runs under Xvfb on a Wine virtual desktop, saves a screenshot once the first
# dialog is up, prints the screenshot's path and ends the program.
set -euo pipefail
source "$(dirname "$0")/fixed_layout.sh"  # Wine without the address-space conflict
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh run
bash scripts/build.sh windows

# The x64 program needs no 32-bit Wine: the Wine root is used only when a test run has made it.
wine_root_policy=existing
source scripts/wine_env.sh
wine_prefix_ready

if [ -n "${DISPLAY:-}" ]; then
  exec wine dist/x64/vivediz.exe
fi

mkdir -p out
shot="$PWD/out/vivediz-x64.png"
with_xvfb run_and_shoot "$shot"
