#!/usr/bin/env bash
# Runs the administrator's guide's command blocks under Wine (tests/guide/run_guide_commands.py)
# in the project's prefix, with one wineserver for the whole run, on a private Xvfb display for the
# acceptance kit's dialogs. Needs scripts/build.sh windows.
set -euo pipefail
source "$(dirname "$0")/../../scripts/fixed_layout.sh"  # Wine without the address-space conflict
cd "$(dirname "$0")/../.."
source scripts/wine_env.sh
# The acceptance kit's waits, scaled to the machine's load.
source scripts/kit_bounds.sh
export VIVEDIZ_KIT_TIME_SCALE
VIVEDIZ_KIT_TIME_SCALE=$(load_time_scale)
if [ ! -f dist/x64/vivediz-undo.exe ]; then
  echo "guide: dist/x64/vivediz-undo.exe is missing; run scripts/build.sh windows first" >&2
  echo "0 passed, 1 failed"
  exit 1
fi
if ! wine_prefix_ready; then
  echo "0 passed, 1 failed"
  exit 1
fi
started=0
if timeout 1 wineserver -w 2>/dev/null; then
  wineserver -p
  started=1
fi
status=0
# The kit's dialogs need a display.
with_xvfb python3 tests/guide/run_guide_commands.py "$@" || status=$?
if [ "$started" -eq 1 ]; then wineserver -k 2>/dev/null || true; fi
exit "$status"
