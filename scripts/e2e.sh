#!/usr/bin/env bash
# Runs the end-to-end scenarios against the x64 and x86 programs under Wine in Xvfb, as an
# administrator would: packs the acceptance kit (release/acceptance_kit.py), unpacks it and runs
# each architecture's accept.exe from it. Or takes the screenshots in docs/. Builds nothing:
# scripts/build.sh windows must have run.
#
#   bash scripts/e2e.sh                 every scenario: PASS/FAIL lines, then "N passed, N failed"
#   bash scripts/e2e.sh --only TEXT     only the scenarios whose name contains TEXT
#   bash scripts/e2e.sh --arch x86      only the x86 runs (x64 likewise)
#   bash scripts/e2e.sh --arch x86 --emulate
#                                       the x86 runs under qemu-user emulation, for a host that
#                                       cannot execute 32-bit programs (slow: see x86_emulation.sh)
#   bash scripts/e2e.sh --screenshots   docs/xen.png, kvm.png, basic.png, help.png, message.png
#   bash scripts/e2e.sh --shipped DIR   the shipped program's scenarios take DIR/x64/vivediz.exe
#                                       and DIR/x86/vivediz.exe (a signed release) instead of dist/
#
# Where Wine's 32-bit loader cannot run (or VIVEDIZ_WINE32=0), the x86 scenarios are listed as
# skipped and the last line reads "N passed, N failed, M skipped". The kit is the one the test
# command packed for its stages (VIVEDIZ_SUITE_RELEASE), or packed here. VIVEDIZ_E2E_KEEP=1 keeps
# the kit's reports and the Unix standard error of its programs, and names their folder.
set -euo pipefail
source "$(dirname "$0")/fixed_layout.sh"  # Wine without the address-space conflict
cd "$(dirname "$0")/.."

emulate=0
shipped=dist
only_arch=""
arguments=()
while [ $# -gt 0 ]; do
  case "$1" in
    --emulate) emulate=1 ;;
    --shipped) shipped=${2:?--shipped needs a folder}; shift ;;
    --arch) only_arch=${2:?--arch needs x64 or x86}; shift ;;
    *) arguments+=("$1") ;;
  esac
  shift
done
set -- ${arguments[@]+"${arguments[@]}"}

# Every wait of the driver and of this script is multiplied by this: more on a busy machine
# (kit_bounds.sh), ten times more under emulation.
source scripts/kit_bounds.sh
time_scale=$(load_time_scale)
if [ "$time_scale" -gt 1 ]; then
  echo "e2e: load average $(cut -d' ' -f1-2 /proc/loadavg) on $(nproc) processors: the kit's" \
    "waits are $time_scale times as long"
fi
if [ "$emulate" -eq 1 ]; then
  source scripts/x86_emulation.sh
  trap x86_emulation_stop EXIT
  if ! x86_emulation_start; then
    echo "0 passed, 1 failed"
    exit 1
  fi
  unset WINEPREFIX VIVEDIZ_WINE32
  wine_prefix_base=.wine-emulated
  time_scale=$((10 * time_scale))
fi

source scripts/wine_env.sh
# Under emulation only the x86 programs need the (emulated) 32-bit loader; the rest runs natively.
if [ "$emulate" -eq 1 ]; then
  if [ "$VIVEDIZ_WINE32" = 0 ]; then
    echo "emulate: Wine's 32-bit loader still does not start: $wine32_reason" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
  use_wine64_loader
fi

for file in build/e2e/x64/accept.exe build/e2e/x86/accept.exe build/e2e/x64/vivediz.exe \
  build/e2e/x86/vivediz.exe "$shipped/x64/vivediz.exe" "$shipped/x86/vivediz.exe"; do
  if [ ! -f "$file" ]; then
    echo "e2e: $file is missing; run scripts/build.sh windows first" >&2
    echo "0 passed, 1 failed"
    exit 1
  fi
done

if ! wine_prefix_ready; then
  echo "0 passed, 1 failed"
  exit 1
fi

driver_options=(--disposable --time-scale "$time_scale")
if [ "$shipped" != dist ]; then driver_options+=(--shipped "$(winepath -w "$(realpath "$shipped")")"); fi
skip_x86=0
if [ "$VIVEDIZ_WINE32" = 0 ]; then
  skip_x86=1
  echo "e2e: skipping the x86 scenarios: $wine32_reason." \
    "To run them anyway: bash scripts/e2e.sh --arch x86 --emulate (qemu-user emulation, slow)"
fi

work=$(mktemp -d /tmp/vivediz-e2e.XXXXXX)
cleanup() {
  stop_server
  if [ -n "${VIVEDIZ_E2E_KEEP:-}" ]; then echo "kept $work" >&2; else rm -rf "$work"; fi
  if [ "$emulate" -eq 1 ]; then x86_emulation_stop; fi
}
trap cleanup EXIT

# The kit as the release packs it, unpacked: KIT/x64/accept.exe and KIT/x86/accept.exe.
unpack_kit() { kit=$(python3 release/acceptance_kit.py --unpacked "$work/kit"); }

# kit_run ARCH OPTIONS...: one accept.exe run. Its Unix standard error, which every program it
# starts inherits, goes to a file that the kit reads back for each scenario's reboot evidence.
# Adds its summary to the totals; a run without one counts as a failure.
kit_run() {
  local arch=$1
  shift
  local errors="$work/stderr-$arch.log" report="$work/report-$arch.txt" status=0
  : >"$errors"
  rm -f "$kit/$arch/accept-report.txt"
  # A scenario takes seconds, and one that fails at most about a minute of the kit's waits; a kit
  # that reports nothing for two minutes of them hangs.
  local windows_errors
  windows_errors=$(winepath -w "$errors")
  run_watched $((120 * time_scale)) "$kit/$arch/accept-report.txt" \
    wine "$kit/$arch/accept.exe" --stderr "$windows_errors" "${driver_options[@]}" "$@" \
    2>>"$errors" | tr -d '\r' | tee "$report" || status=$?
  if [ "$status" -eq 124 ]; then
    echo "e2e: the $arch kit reported nothing for $((120 * time_scale)) s; it was ended" >&2
  fi
  local line
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed, [0-9]+ skipped$' "$report" | tail -n 1)
  if [ -z "$line" ]; then
    echo "e2e: the $arch kit ended without its summary; its standard error ends with:" >&2
    grep -v 'fixme:' "$errors" | tail -n 20 >&2 || true
    # What it changed goes back now, while its restore file is there: the prefix is left as it
    # was, and the next run is not refused for an unfinished one.
    local left="$kit/$arch/accept-restore.txt"
    if [ -e "$left" ]; then
      echo "e2e: $(timeout 120 wine "$kit/$arch/accept.exe" --restore "$(winepath -w "$left")" \
        2>/dev/null | tr -d '\r' | tail -n 1)" >&2
    fi
    failed=$((failed + 1))
    return 1
  fi
  read -r p _ f _ s _ <<<"${line//,/}"
  passed=$((passed + p))
  failed=$((failed + f))
  skipped=$((skipped + s))
  [ "$status" -eq 0 ] || [ "$f" -gt 0 ] || failed=$((failed + 1))
}

run_scenarios() {
  passed=0 failed=0 skipped=0
  start_server
  if unpack_kit; then
    dump_wine_settings "$work/wine-settings-before.txt"
    if [ "$only_arch" != x86 ]; then kit_run x64 "$@"; fi
    if [ "$only_arch" != x64 ]; then
      if [ "$skip_x86" -eq 1 ]; then
        kit_run x64 --skip-arch x86 --skip-reason "$wine32_reason" "$@"
      else
        kit_run x86 "$@"
      fi
    fi
    # The kit sets Wine's per-program settings for its run and must leave them as it found them.
    dump_wine_settings "$work/wine-settings-after.txt"
    if diff "$work/wine-settings-before.txt" "$work/wine-settings-after.txt" >"$work/wine.diff"; then
      echo "PASS wine_settings_as_the_kit_found_them"
      passed=$((passed + 1))
    else
      echo "FAIL wine_settings_as_the_kit_found_them: HKCU\Software\Wine differs (> after the run):"
      sed 's/^/  /' "$work/wine.diff"
      failed=$((failed + 1))
    fi
  else
    echo "e2e: no acceptance kit to run" >&2
    failed=$((failed + 1))
  fi
  stop_server
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}

# One screenshot: the driver opens the window on a Wine virtual desktop, writes the region to
# crop into the ready file and waits for the done file.
shoot() {
  local name="$1"
  local ready="$work/$name.ready" done_file="$work/$name.done"
  rm -f "$ready" "$done_file"
  timeout 120 wine explorer /desktop=vivediz-e2e,800x450 "$kit/x64/accept.exe" --disposable \
    --screenshot "$name" \
    "$(winepath -w "$ready")" "$(winepath -w "$done_file")" >/dev/null 2>&1 &
  local launcher=$!
  for _ in $(seq 600); do [ -s "$ready" ] && break; sleep 0.1; done
  local status=0
  if [ -s "$ready" ]; then
    import -window root -crop "$(tr -d '\r\n' <"$ready")" +repage "docs/$name.png"
    echo "docs/$name.png"
  else
    echo "e2e: no $name window appeared" >&2
    status=1
  fi
  touch "$done_file"
  wait "$launcher" 2>/dev/null || true
  return $status
}

take_screenshots() {
  unpack_kit || return 1
  start_server
  mkdir -p docs
  local status=0
  for name in xen kvm basic help message; do shoot "$name" || status=1; done
  stop_server
  return $status
}

if [ "${1:-}" = "--screenshots" ]; then
  with_xvfb take_screenshots
else
  with_xvfb run_scenarios "$@"
fi
