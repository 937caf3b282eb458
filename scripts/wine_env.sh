# Shared by the scripts that run programs under Wine: which Wine runs, the project's prefix and an
# Xvfb display.
#
# Debian's `wine` (and `winepath`, through `wine-stable`) always starts Wine's 32-bit loader when
# wine32 is installed, and hands 64-bit programs on to the 64-bit one. Some hosts' kernels refuse
# 32-bit programs ("Exec format error"), so there every call would fail, x64 programs included.
# On such a host every Wine call goes through the 64-bit loader instead, and the x86 programs are
# known not to run. VIVEDIZ_WINE32=0 takes that path on any host, to try it.
#
# Where the kernel runs 32-bit programs but the host's own 32-bit Wine does not (wine32:i386 could
# not be installed, say), every Wine call goes through the Wine of a Debian root that
# scripts/wine_root.sh makes on first use, outside the clone, so that both architectures run, from
# one Wine build. VIVEDIZ_WINE_ROOT=1 takes the root on any host (made when missing), and
# VIVEDIZ_WINE_ROOT=0 never. A script that sets wine_root_policy=existing before sourcing this
# (the run command) takes the root only when it has been made already or VIVEDIZ_WINE_ROOT=1.
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

wine32_loader=/usr/lib/wine/wine
wine64_loader=/usr/lib/wine/wine64
wine_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$wine_scripts/host.sh"
source "$wine_scripts/wine_root.sh"

# Why the host's own 32-bit loader does not run; nothing when it does.
host_wine32_reason() {
  if "$wine32_loader" --version >/dev/null 2>&1; then
    return 0
  elif [ "$kernel_i386" = 0 ]; then
    echo "this host's kernel refuses 32-bit programs (Exec format error)"
  elif [ ! -e "$wine32_loader" ]; then
    echo "the 32-bit Wine (wine32:i386) is not installed on this host$(
      why=$(cat "$(vivediz_cache)/bootstrap/wine32:i386.failed" 2>/dev/null) &&
        printf ': %s' "$why")"
  else
    echo "Wine's 32-bit loader does not start ($wine32_loader --version: $(
      "$wine32_loader" --version 2>&1 | tail -n 1 || true))"
  fi
}

# Which Wine runs, from the facts kernel_i386 (1 when the kernel runs 32-bit programs) and
# host_reason (why the host's 32-bit loader does not run; empty when it does): sets wine_root
# (the root's folder when every Wine call goes through it, else empty), VIVEDIZ_WINE32 (1 when
# the 32-bit loader of that Wine runs) and wine32_reason (why not, the true reason). False when
# VIVEDIZ_WINE_ROOT=1 asks for a root that cannot be had.
choose_wine() {
  wine_root=""
  local use_root=0 reason=$host_reason
  case "${VIVEDIZ_WINE_ROOT:-}" in
    1) use_root=1 ;;
    0) ;;
    *)
      if [ "${VIVEDIZ_WINE32:-}" != 0 ] && [ -n "$host_reason" ] && [ "$kernel_i386" = 1 ]; then
        use_root=1
      fi
      ;;
  esac
  if [ "$use_root" = 1 ]; then
    if [ "${wine_root_policy:-make}" = existing ] && [ "${VIVEDIZ_WINE_ROOT:-}" != 1 ] &&
      [ ! -d "$(wine_root_path)" ]; then
      :
    elif wine_root_make && wine_root_enter "$(wine_root_path)"; then
      wine_root=$(wine_root_path)
    elif [ "${VIVEDIZ_WINE_ROOT:-}" = 1 ]; then
      echo "wine: VIVEDIZ_WINE_ROOT=1, but $wine_root_reason" >&2
      return 1
    else
      reason="$reason; and $wine_root_reason"
    fi
  fi
  if [ "${VIVEDIZ_WINE32:-}" = 0 ]; then
    VIVEDIZ_WINE32=0
    wine32_reason="VIVEDIZ_WINE32=0 asks to run as on a host that cannot execute 32-bit programs"
  elif [ -z "$wine_root" ]; then
    VIVEDIZ_WINE32=1
    wine32_reason=$reason
    [ -n "$wine32_reason" ] && VIVEDIZ_WINE32=0
  elif [ "$kernel_i386" = 0 ]; then
    VIVEDIZ_WINE32=0
    wine32_reason="this host's kernel refuses 32-bit programs (Exec format error)"
  elif wine_root_run "$wine32_loader" --version >/dev/null 2>&1; then
    VIVEDIZ_WINE32=1
    wine32_reason=""
  else
    VIVEDIZ_WINE32=0
    wine32_reason="Wine's 32-bit loader in the Wine root $wine_root does not start ($(
      wine_root_run "$wine32_loader" --version 2>&1 | tail -n 1 || true))"
  fi
  return 0
}

kernel_i386=0
kernel_runs_i386 && kernel_i386=1
host_reason=$(host_wine32_reason)
choose_wine || exit 1
export VIVEDIZ_WINE32

# The project's prefix: .wine/ for the host's Wine, .wine-root/ for the root's, so that a prefix is
# only ever run by the Wine build that made it. A caller may name another (wine_prefix_base).
if [ -z "${WINEPREFIX:-}" ]; then
  WINEPREFIX="$PWD/${wine_prefix_base:-.wine}"
  [ -n "$wine_root" ] && WINEPREFIX+=-root
fi
export WINEPREFIX

# Writes scripts into FOLDER and puts it first in PATH; each line of the standard input is
# "NAME COMMAND": the script NAME runs COMMAND with its own arguments.
put_first_in_path() {
  local folder=$1 name command
  mkdir -p "$folder"
  while read -r name command; do
    printf '#!/bin/bash\nexec %s "$@"\n' "$command" >"$folder/$name.new"
    chmod 755 "$folder/$name.new"
    mv -f "$folder/$name.new" "$folder/$name"
  done
  export PATH="$folder:$PATH"
}

# Every Wine call of the project, winepath's and wineserver's included, through the Wine root,
# started by LOADER: the 32-bit loader (which hands 64-bit programs on) or the 64-bit one.
use_wine_root() {
  local loader=$1 enter
  enter="$(printf '%q ' "${wine_root_exec[@]}")-C \"\$PWD\" $(printf '%q ' "${wine_root_env[@]}")"
  put_first_in_path "$wine_root_shims" <<EOF
wine $enter$loader
wine-stable $enter$loader
wine64 $enter$wine64_loader
winepath $enter$loader winepath.exe
wineserver $enter/usr/bin/wineserver
EOF
  if [ "$loader" = "$wine64_loader" ]; then
    export WINELOADER="$wine64_loader"
  else
    unset WINELOADER
  fi
}

# Puts `wine` and `wine-stable` scripts that start the 64-bit loader first in PATH, so that every
# Wine call of the project, winepath's included, avoids the 32-bit loader.
use_wine64_loader() {
  if [ -n "$wine_root" ]; then
    use_wine_root "$wine64_loader"
    return
  fi
  put_first_in_path "${TMPDIR:-/tmp}/vivediz-wine64-$(id -u)" <<EOF
wine $wine64_loader
wine-stable $wine64_loader
EOF
  export WINELOADER="$wine64_loader"
}
if [ "$VIVEDIZ_WINE32" = 0 ]; then
  use_wine64_loader
elif [ -n "$wine_root" ]; then
  use_wine_root "$wine32_loader"
fi

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
# The first program of a new server starts Wine's services (services.exe, plugplay.exe, ...), which
# keep the Unix standard output they inherit open until the server ends: a first program whose
# output goes into a pipe ($(...), | tr) would never see it closed. So the services start here,
# from a program whose output goes nowhere.
started_server=0
start_server() {
  if timeout 1 wineserver -w 2>/dev/null; then
    wineserver -p
    started_server=1
    wine cmd /c exit </dev/null >/dev/null 2>&1 || true
  fi
}

stop_server() {
  if [ "$started_server" -eq 1 ]; then
    wineserver -k 2>/dev/null || true
    started_server=0
  fi
}


# Wine's own settings as Wine's reg.exe reads them (HKCU\Software\Wine, where the kit sets its
# per-program ones), into FILE. Left out: "Temporary System Parameters", a volatile key that
# Wine's user32 fills for each display and never saves.
dump_wine_settings() {
  wine reg query 'HKCU\Software\Wine' /s 2>&1 | tr -d '\r' |
    sed '/^HKEY_CURRENT_USER\\Software\\Wine\\Temporary System Parameters/,/^$/d' >"$1"
}
