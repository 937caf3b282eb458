# Shared by the scripts that run programs under Wine: how Wine runs on this host, the project's
# prefix and an Xvfb display.
#
# Debian's `wine` (and `winepath`, through `wine-stable`) always starts Wine's 32-bit loader when
# wine32 is installed, and hands 64-bit programs on to the 64-bit one. Some hosts' kernels refuse
# 32-bit programs ("Exec format error"), so there every call would fail, x64 programs included.
# On such a host every Wine call goes through the 64-bit loader instead, and the x86 programs are
# known not to run. VIVEDIZ_WINE32=0 takes that path on any host, to try it.
export WINEPREFIX="${WINEPREFIX:-$PWD/.wine}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64

# 1 when the 32-bit loader runs here, else 0 with the true reason in wine32_reason.
source "$(dirname "${BASH_SOURCE[0]}")/host.sh"
if [ "${VIVEDIZ_WINE32:-}" = 0 ]; then
  VIVEDIZ_WINE32=0
  wine32_reason="VIVEDIZ_WINE32=0 asks to run as on a host that cannot execute 32-bit programs"
elif "$wine32_loader" --version >/dev/null 2>&1; then
  VIVEDIZ_WINE32=1
  wine32_reason=""
elif ! kernel_runs_i386; then
  VIVEDIZ_WINE32=0
  wine32_reason="this host's kernel refuses 32-bit programs (Exec format error)"
elif [ ! -e "$wine32_loader" ]; then
  VIVEDIZ_WINE32=0
  wine32_reason="the 32-bit Wine (wine32:i386) is not installed on this host$(
    why=$(cat "$(vivediz_cache)/bootstrap/wine32:i386.failed" 2>/dev/null) &&
      printf ': %s' "$why")"
else
  VIVEDIZ_WINE32=0
  wine32_reason="Wine's 32-bit loader does not start ($wine32_loader --version: $(
    "$wine32_loader" --version 2>&1 | tail -n 1 || true))"
fi
export VIVEDIZ_WINE32

# Puts `wine` and `wine-stable` scripts that start the 64-bit loader first in PATH, so that every
# Wine call of the project, winepath's included, avoids the 32-bit loader.
use_wine64_loader() {
  local shim="${TMPDIR:-/tmp}/vivediz-wine64-$(id -u)"
  mkdir -p "$shim"
  local name
  for name in wine wine-stable; do
    printf '#!/bin/sh\nexec %s "$@"\n' "$wine64_loader" >"$shim/$name.new"
    chmod 755 "$shim/$name.new"
    mv -f "$shim/$name.new" "$shim/$name"
  done
  export PATH="$shim:$PATH"
  export WINELOADER="$wine64_loader"
}
if [ "$VIVEDIZ_WINE32" = 0 ]; then use_wine64_loader; fi

# Creates the prefix on first use (about 20 s; 12 s with the 64-bit loader alone). A prefix made
# without the 32-bit loader has an empty syswow64 and cannot start even the 64-bit programs
# through that loader, so where the 32-bit loader runs such a prefix is made anew; a whole prefix
# serves both paths. False, with Wine's last words, when it cannot be made.
wine_prefix_ready() {
  if [ -f "$WINEPREFIX/system.reg" ] && [ "$VIVEDIZ_WINE32" = 1 ] &&
    [ ! -f "$WINEPREFIX/drive_c/windows/syswow64/kernel32.dll" ]; then
    echo "wine: $WINEPREFIX was made without 32-bit support; making it anew" >&2
    wineserver -k 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  [ -f "$WINEPREFIX/system.reg" ] && return 0
  echo "wine: creating prefix $WINEPREFIX" >&2
  local log
  log=$(mktemp)
  wine wineboot -i >"$log" 2>&1 || true
  wineserver -w 2>/dev/null || true
  local status=0
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: could not create the prefix $WINEPREFIX; wine wineboot -i said:" >&2
    tail -n 20 "$log" >&2
    status=1
  fi
  rm -f "$log"
  return $status
}

# Runs "$@" with DISPLAY set to a private Xvfb server, which is stopped afterwards. Xvfb takes a
# free display itself and names it once it accepts connections (-displayfd), however long a busy
# machine makes that take; two runs starting at once never share one.
with_xvfb() {
  local named display_number=""
  named=$(mktemp -u /tmp/vivediz-xvfb.XXXXXX)
  mkfifo "$named"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$named" >/dev/null 2>&1 &
  local xvfb_pid=$!
  read -r -t 120 display_number <"$named" || true
  rm -f "$named"
  if [ -z "$display_number" ]; then
    echo "xvfb: no display within 120 s" >&2
    kill "$xvfb_pid" 2>/dev/null || true
    return 1
  fi
  local status=0
  DISPLAY=":${display_number}" "$@" || status=$?
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  return $status
}

# Starts the program on a virtual desktop, waits for its first dialog, takes the screenshot, ends it.
# False, with the reason, when no dialog appears.
run_and_shoot() {
  local shot="$1"
  local ready log
  ready=$(mktemp -u /tmp/vivediz-ready.XXXXXX)
  log=$(mktemp /tmp/vivediz-run.XXXXXX)
  wine explorer /desktop=vivediz,800x450 build/win-x64/launch_and_wait.exe dist/x64/vivediz.exe \
    "$(winepath -w "$ready")" 30000 >"$log" 2>&1 &
  local launcher=$!
  # The launcher ends early when the program cannot start or ends without a window.
  for _ in $(seq 350); do
    [ -s "$ready" ] && break
    kill -0 "$launcher" 2>/dev/null || break
    sleep 0.1
  done
  local status=0
  if [ -s "$ready" ]; then
    import -window root -crop 800x450+0+0 +repage "$shot"
    echo "first window: $(tr -d '\r' <"$ready")" >&2
    echo "$shot"
  else
    echo "run: dist/x64/vivediz.exe showed no window under Wine:" >&2
    grep -v -e '^fixme:' -e '^$' "$log" | tr -d '\r' | tail -n 20 | sed 's/^/run: /' >&2
    status=1
  fi
  rm -f "$ready" "$log"
  wineserver -k 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
  return $status
}

# One wineserver for the whole run, so that each program start costs only the program's own
# start-up. One that is already running for this prefix (someone else's) is used and left alone.
started_server=0
start_server() {
  if timeout 1 wineserver -w 2>/dev/null; then
    wineserver -p
    started_server=1
  fi
}

stop_server() {
  if [ "$started_server" -eq 1 ]; then
    wineserver -k 2>/dev/null || true
    started_server=0
  fi
}

