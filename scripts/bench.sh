#!/usr/bin/env bash
# Footprint benchmark (figures, not a test): .exe size, start-to-dialog time under Wine (median of
# several runs) and peak working set, for vivediz and a one-dialog program built the same way.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
bash scripts/build.sh windows
source scripts/wine_env.sh
wine_prefix_ready

runs="${1:-7}"
measure() {
  printf '%-6s %-16s %8s bytes  ' "$1" "$2" "$(stat -c %s "$3")"
  wine build/win-x64/start_timer.exe "$3" "$runs" 2>/dev/null | tr -d '\r'
}
bench() {
  wineserver -p5  # one wineserver for all runs, so that no run pays for starting it
  for arch in x64 x86; do
    if [ "$arch" = x86 ] && [ "$VIVEDIZ_WINE32" = 0 ]; then
      printf '%-6s %-16s not measured: %s\n' x86 minimal_dialog "$wine32_reason"
      printf '%-6s %-16s not measured: %s\n' x86 vivediz "$wine32_reason"
      continue
    fi
    # A first start of each architecture loads its side of Wine; it counts for neither program.
    wine build/win-x64/start_timer.exe "build/win-$arch/bench/minimal_dialog.exe" 1 >/dev/null 2>&1 || true
    measure "$arch" minimal_dialog "build/win-$arch/bench/minimal_dialog.exe"
    measure "$arch" vivediz "dist/$arch/vivediz.exe"
  done
  wineserver -k || true
}
with_xvfb bench
