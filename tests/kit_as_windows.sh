#!/usr/bin/env bash
# The acceptance kit under Wine as a real guest runs it (--as-windows): from the unpacked kit, the
# x64 accept.exe must leave the registry exactly as it found it, value by value and byte for byte,
# after a whole run and after a run that ends abruptly followed by --restore; it must refuse
# without --disposable and without elevation, changing nothing, refuse a second run (from its own
# copy or another) while a run is unrestored, and refuse restore files that are cut, miss a line
# or come from another guest.
# Then in its own mode under Wine, killed while the planting scenario's program is open: the
# program ends with it, and --restore ends programs left open, removes the planted copy and puts
# the registry and Wine's settings back. Prints one line per check and "N passed, N failed".
set -uo pipefail
source "$(dirname "$0")/../scripts/fixed_layout.sh"  # Wine without the address-space conflict
cd "$(dirname "$0")/.."
source scripts/wine_env.sh

source tests/check.sh

work=$(mktemp -d /tmp/vivediz-kit.XXXXXX)
trap 'stop_server; if [ -n "${VIVEDIZ_KIT_KEEP:-}" ]; then echo "kept $work"; else rm -rf "$work"; fi' EXIT

# The keys the kit may touch, read by Wine's own reg.exe and by a tool of the test's own
# (tests/tools/registry_bytes.cpp) rather than by the kit.
dump_keys=(
  'HKLM\SYSTEM\CurrentControlSet\Services\vdbus' 'HKLM\SYSTEM\CurrentControlSet\Services\ldbus'
  'HKLM\SYSTEM\CurrentControlSet\Services\vdblk' 'HKLM\SYSTEM\CurrentControlSet\Services\vdscsi'
  'HKLM\SYSTEM\CurrentControlSet\Services\ldblk' 'HKLM\SYSTEM\CurrentControlSet\Services\ldscsi'
  'HKLM\SYSTEM\CurrentControlSet\Services\AFD' 'HKLM\SYSTEM\CurrentControlSet\Enum\XEN'
  'HKLM\SYSTEM\CurrentControlSet\Enum\PCI' 'HKLM\HARDWARE\DESCRIPTION\System\CentralProcessor\0'
  'HKLM\HARDWARE\DESCRIPTION\System\BIOS' 'HKCU\Software\Wine\AppDefaults')
dump() {
  local key
  {
    for key in "${dump_keys[@]}"; do wine reg query "$key" /s 2>&1; done
    wine reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters' 2>&1
    for view in 64 32; do
      wine reg query 'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /reg:$view 2>&1
    done
    # The same keys byte for byte (reg.exe shows a string stored without its terminator like one
    # with it, and a name's unpaired surrogate not at all), and the engine's mark, which must not
    # stay behind.
    wine build/win-x64/registry_bytes.exe show "${dump_keys[@]}" 'HKLM\SOFTWARE\vivediz' /alone \
      'HKLM\SYSTEM\CurrentControlSet\Services\Tcpip\Parameters' \
      'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' /32 \
      'HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion' 2>&1
  } | tr -d '\r' >"$1"
}

same_registry() {
  dump "$work/now.txt"
  diff "$work/before.txt" "$work/now.txt" >"$work/difference.txt"
}

unchanged_since_crash() {
  dump "$work/now.txt"
  diff "$work/crashed.txt" "$work/now.txt" >"$work/difference.txt"
}

# accept OPTIONS...: one run of the x64 kit, its waits scaled to the machine's load, ended when
# the report it writes beside itself stays still for two minutes of them (scripts/kit_bounds.sh).
# The report of the run before stays until a run opens its own: a refused run must leave it.
source scripts/kit_bounds.sh
time_scale=$(load_time_scale)
accept() {
  run_watched $((120 * time_scale)) "$kit/x64/accept-report.txt" \
    wine "$kit/x64/accept.exe" --time-scale "$time_scale" "$@" 2>>"$work/stderr.log" | tr -d '\r'
}

# Whether a Windows program runs from the file (a Unix path): the kernel names it in the maps of
# the process that runs it, whatever its Windows path or prefix.
running_from() { grep -q -F -- "$(realpath -m "$1")" /proc/[0-9]*/maps 2>/dev/null; }
ended_within() {
  local _
  for _ in $(seq "$((${2:-5} * 10))"); do running_from "$1" || return 0; sleep 0.1; done
  return 1
}
started_within() {
  local _
  for _ in $(seq 100); do running_from "$1" && return 0; sleep 0.1; done
  return 1
}

run_checks() {
  wine_prefix_ready || return 1
  start_server
  kit=$(python3 release/acceptance_kit.py --unpacked "$work/kit") || return 1
  local restore_file="$kit/x64/accept-restore.txt" out status
  dump_wine_settings "$work/wine-settings-at-start.txt"
  # Wine's two-second wait per hidden window without a window manager: this script's setting, not
  # the kit's, which leaves Wine's keys alone under --as-windows. Put back as found at the end.
  local managed_key='HKCU\Software\Wine\AppDefaults\vivediz.exe\X11 Driver' had_managed=0
  local made_key='' key
  for key in 'HKCU\Software\Wine\AppDefaults' 'HKCU\Software\Wine\AppDefaults\vivediz.exe' \
    "$managed_key"; do
    if [ -z "$made_key" ] && ! wine reg query "$key" >/dev/null 2>&1; then made_key=$key; fi
  done
  wine reg query "$managed_key" /v Managed >/dev/null 2>&1 && had_managed=1
  wine reg add "$managed_key" /v Managed /d N /f >/dev/null 2>&1
  dump "$work/before.txt"

  out=$(accept --as-windows)
  status=$?
  check "without --disposable: refused (status $status)" test "$status" -ne 0
  check "without --disposable: it says where it belongs" grep -q 'a snapshot or a throw-away clone' \
    <<<"$out"
  out=$(accept --as-windows --disposable --limited-token-for-test)
  status=$?
  check "without elevation: one line, refused (status $status)" \
    test "$status" -ne 0 -a "$(wc -l <<<"$out")" -eq 1
  check "the refusals changed nothing and left no restore file" \
    eval 'same_registry && [ ! -e "$restore_file" ]'

  accept --as-windows --disposable --stderr "$(winepath -w "$work/stderr.log")" >"$work/run.txt"
  status=$?
  cp "$work/run.txt" "$work/as-windows-report.txt"
  check "a whole run as on Windows passes (status $status): $(tail -n 1 "$work/run.txt")" \
    eval 'test "$status" -eq 0 && tail -n 1 "$work/run.txt" | grep -Eq "^[1-9][0-9]* passed, 0 failed, [1-9][0-9]* skipped$"'
  check "the Enum scenarios are skipped with Microsoft's reason" \
    grep -q '^SKIP x64 .*cannot change the contents of the Enum subkey' "$work/run.txt"
  check "the registry afterwards equals the registry before" same_registry
  check "the restore file is removed after a clean run" test ! -e "$restore_file"
  out=$(accept --as-windows --disposable --only no_scenario_has_this_name)
  status=$?
  check "a run that ran no scenario says so and fails (status $status)" \
    eval 'test "$status" -ne 0 && grep -q "^FAIL accept: no scenario ran" <<<"$out"'

  accept --as-windows --disposable --only field_rules_xen_edits \
    --crash-after-preparing field_rules_xen_edits >"$work/crash.txt"
  check "a run ended abruptly leaves its restore file" test -e "$restore_file"
  same_registry
  cp "$work/difference.txt" "$work/crash-difference.txt"
  cp "$kit/x64/accept-report.txt" "$work/crash-report.txt"
  out=$(accept --as-windows --disposable --only basic_tcp_on)
  check "a second run refuses while the crashed run's restore file is left" \
    eval 'grep -q "run accept.exe --restore" <<<"$out" && test -e "$restore_file"'
  check "the refused run leaves the crashed run's report as it was" \
    cmp -s "$work/crash-report.txt" "$kit/x64/accept-report.txt"
  check "it left changes: a key it created and a value that was not stored" \
    eval 'grep -q "^> HKEY_LOCAL_MACHINE.*vdbus" "$work/difference.txt" &&
          grep -q "^>.*ReleaseId" "$work/difference.txt"'
  cp "$work/now.txt" "$work/crashed.txt"
  local kit2
  kit2=$(python3 release/acceptance_kit.py --unpacked "$work/kit2") || return 1
  out=$(timeout 600 wine "$kit2/x64/accept.exe" --as-windows --disposable --only basic_tcp_on \
    2>>"$work/stderr.log" | tr -d '\r')
  check "another copy of the kit refuses too, naming the crashed run's restore file" \
    grep -qF "run accept.exe --restore $(winepath -w "$restore_file") first" <<<"$out"
  check "that refusal changed nothing" unchanged_since_crash
  local lines
  lines=$(wc -l <"$restore_file")
  sed "$((lines / 2))d" "$restore_file" >"$work/middle.txt"
  out=$(accept --restore "$(winepath -w "$work/middle.txt")")
  status=$?
  check "a restore file missing a line in the middle is refused in one line (status $status): $out" \
    eval 'test "$status" -ne 0 -a "$(wc -l <<<"$out")" -eq 1 && grep -q "a line is missing" <<<"$out"'
  check "that refusal changed nothing" unchanged_since_crash
  # A record from another guest: its machine GUID, with the check line made to fit (a forgery).
  python3 - "$restore_file" "$work/other.txt" <<'EOF'
import hashlib, sys
lines = open(sys.argv[1], "rb").read().split(b"\n")[:-2]
lines = [b"guest\t1\t00000000-0000-4000-8000-000000000000" + l[l.index(b"\t", 8):]
         if l.startswith(b"guest\t1\t") else l for l in lines]
body = b"".join(l + b"\n" for l in lines)
open(sys.argv[2], "wb").write(body + b"sha256\t" + hashlib.sha256(body).hexdigest().encode() + b"\n")
EOF
  out=$(accept --restore "$(winepath -w "$work/other.txt")")
  status=$?
  check "a restore file from another guest is refused in one line (status $status): $out" \
    eval 'test "$status" -ne 0 -a "$(wc -l <<<"$out")" -eq 1 && grep -q "another guest" <<<"$out"'
  check "that refusal changed nothing" unchanged_since_crash
  head -n 3 "$restore_file" >"$work/cut.txt"
  out=$(accept --restore "$(winepath -w "$work/cut.txt")")
  status=$?
  check "a restore file that was not written whole is refused (status $status)" \
    eval 'test "$status" -ne 0 && grep -q "not written whole" <<<"$out"'
  out=$(accept --restore "$(winepath -w "$restore_file")")
  status=$?
  check "--restore after the crash (status $status): $out" test "$status" -eq 0
  check "after --restore nothing is left changed" same_registry
  if [ -s "$work/difference.txt" ]; then cat "$work/difference.txt"; fi
  check "--restore removes the restore file" test ! -e "$restore_file"

  # The kit in its own mode under Wine (Wine's settings in use), killed while the planting
  # scenario's program is open.
  local planting=shipped_program_loads_no_planted_library
  local planted="$WINEPREFIX/drive_c/users/$(id -un)/Temp/vivediz-planted-x64"
  dump_wine_settings "$work/wine-settings-before.txt"
  # Not through a pipe: a program that outlived the kit would hold it open.
  timeout 600 wine "$kit/x64/accept.exe" --disposable --only "$planting" \
    --crash-after-starting "$planting" --stderr "$(winepath -w "$work/stderr.log")" \
    >"$work/planting-crash.txt" 2>>"$work/stderr.log"
  check "killed with the planting scenario's program open: the program ended with the kit" \
    eval 'grep -q "ending abruptly after starting" "$work/planting-crash.txt" &&
          ended_within "$planted/vivediz.exe"'
  check "killed in the planting scenario: the planted copy and the restore file are left" \
    test -e "$planted/vivediz.exe" -a -e "$restore_file"
  # Programs left open, as a kit that could not put them in a job (before Windows 8) leaves them.
  wine "$planted/vivediz.exe" >/dev/null 2>&1 &
  local left_planted=$!
  wine "$kit/x64/test/vivediz.exe" >/dev/null 2>&1 &
  local left_test=$!
  started_within "$planted/vivediz.exe"
  started_within "$kit/x64/test/vivediz.exe"
  out=$(accept --restore "$(winepath -w "$restore_file")")
  status=$?
  check "--restore after the kill (status $status) ends the programs left open: $(grep -c '^accept: ended' <<<"$out") ended" \
    eval 'test "$status" -eq 0 && ended_within "$planted/vivediz.exe" 1 &&
          ended_within "$kit/x64/test/vivediz.exe" 1'
  kill "$left_planted" "$left_test" 2>/dev/null  # children, not yet waited for: ours still
  wait "$left_planted" "$left_test" 2>/dev/null
  check "--restore after the kill removes the planted copy" test ! -e "$planted"
  check "--restore after the kill: the registry as before" same_registry
  check "--restore after the kill: Wine's settings as before" \
    eval 'dump_wine_settings "$work/wine-settings-now.txt" &&
          diff "$work/wine-settings-before.txt" "$work/wine-settings-now.txt"'

  # A guest with PV driver keys and XEN devices of its own: the kit must keep them, start every
  # scenario from them and skip what needs them absent.
  local guest_key='HKLM\SYSTEM\CurrentControlSet\Services\vdbus\Parameters\Device'
  wine reg add "$guest_key" /v max_disks /t REG_DWORD /d 48 /f >/dev/null 2>&1
  local xen_devices='HKLM\SYSTEM\CurrentControlSet\Enum\XEN' made_xen=''
  wine reg query "$xen_devices" >/dev/null 2>&1 || made_xen=$xen_devices
  wine reg add "$xen_devices\type_vif\0" /v HardwareID /t REG_MULTI_SZ /d 'XEN\type_vif' /f \
    >/dev/null 2>&1
  # Windows has the AFD parameters key that the scenarios need; the kit must not count it a change.
  local afd='HKLM\SYSTEM\CurrentControlSet\Services\AFD' made_afd=''
  if ! wine reg query "$afd" >/dev/null 2>&1; then
    made_afd=$afd
  elif ! wine reg query "$afd\Parameters" >/dev/null 2>&1; then
    made_afd="$afd\Parameters"
  fi
  wine reg add 'HKLM\SYSTEM\CurrentControlSet\Services\AFD\Parameters' /f >/dev/null 2>&1
  # Values of the guest's that must come back byte for byte, which reg.exe cannot make: a string
  # stored without its terminator ("abc"), and a name holding a UTF-16 unit that is no character.
  local bytes=build/win-x64/registry_bytes.exe
  wine "$bytes" set "$guest_key" 0075006e007400650072006d0069006e0061007400650064 1 610062006300
  wine "$bytes" set "$guest_key" 006fd800006e 4 07000000
  cp "$work/before.txt" "$work/clean.txt"
  dump "$work/before.txt"
  check "the guest's own odd values are there to keep" \
    eval 'grep -q "^\"unterminated\" type 1: 61 00 62 00 63 00$" "$work/before.txt" &&
          grep -qF "\"o\uD800n\" type 4: 07 00 00 00" "$work/before.txt"'
  accept --as-windows --disposable --only basic_tcp_on --stderr "$(winepath -w "$work/stderr.log")" \
    >"$work/guest.txt"
  check "a guest's own PV driver key and XEN devices: the basic scenarios pass: $(tail -n 1 "$work/guest.txt")" \
    grep -Eq '^2 passed, 0 failed, 0 skipped$' "$work/guest.txt"
  cp "$work/guest.txt" "$work/guest-basic.txt"
  accept --as-windows --disposable --only field_rules_xen_edits >"$work/guest.txt"
  check "a guest's own PV driver key: a Xen scenario is skipped, the guest named" \
    grep -q '^SKIP x64 field_rules_xen_edits: the guest has HKLM.SYSTEM.CurrentControlSet.Services.vdbus' \
    "$work/guest.txt"
  check "a guest's own PV driver key: kept as it was" same_registry
  if [ -s "$work/difference.txt" ]; then cat "$work/difference.txt"; fi
  accept --as-windows --disposable --only basic_tcp_on_writes \
    --crash-after-preparing basic_tcp_on_writes_five_defaults >"$work/crash.txt"
  out=$(accept --restore "$(winepath -w "$restore_file")")
  status=$?
  check "a guest's own PV driver key: --restore after a crash (status $status): $out" \
    test "$status" -eq 0
  check "a guest's own PV driver key: kept as it was after the crash and --restore" same_registry
  if [ -s "$work/difference.txt" ]; then cat "$work/difference.txt"; fi
  wine reg delete 'HKLM\SYSTEM\CurrentControlSet\Services\vdbus' /f >/dev/null 2>&1
  if [ -n "$made_afd" ]; then wine reg delete "$made_afd" /f >/dev/null 2>&1; fi
  if [ -n "$made_xen" ]; then wine reg delete "$made_xen" /f >/dev/null 2>&1; fi
  cp "$work/clean.txt" "$work/before.txt"
  check "the guest's keys removed again: the registry as before" same_registry
  if [ -n "$made_key" ]; then
    wine reg delete "$made_key" /f >/dev/null 2>&1
  elif [ "$had_managed" -eq 0 ]; then
    wine reg delete "$managed_key" /v Managed /f >/dev/null 2>&1
  fi
  check "Wine's settings at the end as at the start" \
    eval 'dump_wine_settings "$work/wine-settings-now.txt" &&
          diff "$work/wine-settings-at-start.txt" "$work/wine-settings-now.txt"'
  if [ -n "${VIVEDIZ_KIT_REPORT:-}" ]; then cp "$work/as-windows-report.txt" "$VIVEDIZ_KIT_REPORT"; fi
}

with_xvfb run_checks || failed=$((failed + 1))
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
