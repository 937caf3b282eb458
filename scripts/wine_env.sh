# Shared by the scripts that run programs under Wine: the project's prefix and an Xvfb display.
export WINEPREFIX="${WINEPREFIX:-$PWD/.wine}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

# Creates the prefix on first use (about 20 s) so that both x64 and x86 programs run.
wine_prefix_ready() {
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "wine: creating prefix $WINEPREFIX" >&2
    wine wineboot -i >/dev/null 2>&1 || true
    wineserver -w
  fi
}

# Runs "$@" with DISPLAY set to a private Xvfb server, which is stopped afterwards.
with_xvfb() {
  local display_number=$((90 + RANDOM % 400))
  while [ -e "/tmp/.X${display_number}-lock" ]; do display_number=$((display_number + 1)); done
  Xvfb ":${display_number}" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  local xvfb_pid=$!
  for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X${display_number}" ] && break; sleep 0.1; done
  local status=0
  DISPLAY=":${display_number}" "$@" || status=$?
  kill "$xvfb_pid" 2>/dev/null || true
  wait "$xvfb_pid" 2>/dev/null || true
  return $status
}

# Starts the program on a virtual desktop, waits for its first dialog, takes the screenshot, ends it.
run_and_shoot() {
  local shot="$1"
  local ready
  ready=$(mktemp -u /tmp/vivediz-ready.XXXXXX)
  wine explorer /desktop=vivediz,800x450 build/win-x64/launch_and_wait.exe dist/x64/vivediz.exe \
    "$(winepath -w "$ready")" 30000 >/dev/null 2>&1 &
  local launcher=$!
  for _ in $(seq 300); do [ -s "$ready" ] && break; sleep 0.1; done
  if [ -s "$ready" ]; then
    import -window root -crop 800x450+0+0 +repage "$shot"
    echo "first window: $(tr -d '\r' <"$ready")" >&2
    echo "$shot"
  else
    echo "run: no dialog appeared within 30 s" >&2
  fi
  rm -f "$ready"
  wineserver -k 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
}
