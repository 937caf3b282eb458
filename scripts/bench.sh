#!/usr/bin/env bash
# Footprint benchmark (figures, not a test): .exe size, start-to-dialog time under Wine and peak
# working set, for vivediz and for yardsticks built the same way that add its costs one at a time:
# a one-dialog program, the same importing ADVAPI32 and SETUPAPI as well, and the same showing
# vivediz's own settings dialog, without reading anything. Usage: bench.sh [runs [rounds]].
# Each round times every program (runs starts each, their median), in turn, in the opposite order
# from the round before, so that a change of the machine's load falls on all of them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh bench
bash scripts/build.sh windows
for arch in x64 x86; do
  cmake --build --preset "win-$arch" --target template_probe -- --no-print-directory -s >/dev/null
done
source scripts/wine_env.sh
wine_prefix_ready

runs="${1:-7}"
rounds="${2:-5}"
programs=(minimal_dialog imports_dialog template_dialog vivediz)

# The settings dialog that vivediz shows on this machine, chosen by the program's own code
# (tests/bench/template_probe.cpp); each architecture asks its own processor.
settings_template() {
  local name
  name=$(wine "build/win-$1/bench/template_probe.exe" 2>/dev/null | tr -d '\r')
  if [[ ! $name =~ ^ORVANE_DLG_[A-Z_]*TEMPLATE$ ]]; then
    echo "bench: build/win-$1/bench/template_probe.exe named no settings dialog: ${name:-nothing}" >&2
    return 1
  fi
  echo "$name"
}
command_of() {
  case "$2" in
    vivediz) echo "dist/$1/vivediz.exe" ;;
    template_dialog) echo "build/win-$1/bench/template_dialog.exe $template" ;;
    *) echo "build/win-$1/bench/$2.exe" ;;
  esac
}
# Prints "arch program bytes round median_ms peak_kib", or why there is no figure.
measure() {
  local command figures
  command=$(command_of "$1" "$2")
  figures=$(wine build/win-x64/start_timer.exe "$command" "$runs" 2>&1 | tr -d '\r') || true
  if [[ "$figures" =~ median_ms=([0-9.]+)\ peak_working_set_kib=([0-9]+) ]]; then
    echo "$1 $2 $(stat -c %s "${command%% *}") $3 ${BASH_REMATCH[1]} ${BASH_REMATCH[2]}"
  else
    echo "$1 $2 not measured in round $3: ${figures:-start_timer printed nothing}"
  fi
}
rounds_of() {
  local arch=$1 round program
  template=$(settings_template "$arch") || return 1
  echo "$arch: settings dialog shown: $template" >&2
  # A first start of each architecture loads its side of Wine; it counts for no program.
  wine build/win-x64/start_timer.exe "build/win-$arch/bench/minimal_dialog.exe" 1 >/dev/null 2>&1 ||
    true
  for ((round = 0; round < rounds; round++)); do
    if ((round % 2 == 0)); then
      for program in "${programs[@]}"; do measure "$arch" "$program" "$round"; done
    else
      for ((i = ${#programs[@]} - 1; i >= 0; i--)); do measure "$arch" "${programs[i]}" "$round"; done
    fi
  done
}
bench() {
  local status=0
  wineserver -p5  # one wineserver for all runs, so that no run pays for starting it
  echo "$(wine --version | tr -d '\r')${wine_root:+ from the Wine root $wine_root};" \
    "load average before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  for arch in x64 x86; do
    if [ "$arch" = x86 ] && [ "$VIVEDIZ_WINE32" = 0 ]; then
      for program in "${programs[@]}"; do
        printf '%s %s not measured: %s\n' x86 "$program" "$wine32_reason"
      done
      continue
    fi
    rounds_of "$arch" || status=1
  done
  wineserver -k || true
  echo "load average after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
  return $status
}
with_xvfb bench | python3 tests/bench/summarize.py
