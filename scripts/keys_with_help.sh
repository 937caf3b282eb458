#!/usr/bin/env bash
# What the keyboard does in the settings dialog while help is open, with keys typed through the X
# server (xdotool, XTEST) as a user types them. A measurement, not a test: it prints what each key
# changed and leaves a screenshot after each, to look at.
#
#   bash scripts/keys_with_help.sh [FOLDER]    (the screenshots go to FOLDER, /tmp/vivediz-keys)
#
# Runs the test variant (build/e2e/x64/vivediz.exe) told that there is no hypervisor, so that the
# basic dialog shows, whose layout the clicks below assume, on a Wine virtual desktop in Xvfb. It
# opens help, drags it off the settings dialog, clicks the settings dialog's caption, then presses
# Tab, Tab, Alt+E and Escape. Cancel changes nothing in the registry.
set -euo pipefail
cd "$(dirname "$0")/.."
out=${1:-/tmp/vivediz-keys}
mkdir -p "$out"
bash scripts/bootstrap.sh test
source scripts/wine_env.sh
wine_prefix_ready
program=build/e2e/x64/vivediz.exe
if [ ! -f "$program" ]; then
  echo "keys: $program is missing; run scripts/build.sh windows first" >&2
  exit 1
fi

# The settings dialog's area on the desktop (the basic dialog at 1024x768), and its controls.
settings_area=300x290+88+80
caption="230 94" help_button="293 310" help_caption="350 94" help_moved="650 450"

shoot() { import -window root "$out/$1.png"; }
changed() {  # changed BEFORE AFTER: whether the settings dialog's area differs between two shots
  local pixels
  pixels=$(compare -metric AE -extract "$settings_area" "$out/$1.png" "$out/$2.png" null: 2>&1 ||
    true)
  [ "${pixels%% *}" != 0 ]
}
press() {  # press NAME KEY PREVIOUS-SHOT
  xdotool key "$2"
  sleep 1
  shoot "$1"
  if changed "$3" "$1"; then
    echo "$2: the settings dialog changed ($out/$1.png)"
  else
    echo "$2: nothing changed in the settings dialog ($out/$1.png)"
  fi
}

measure() {
  local ready
  ready=$(mktemp -u /tmp/vivediz-keys-ready.XXXXXX)
  VIVEDIZ_TEST_CPUID_40000000=NoHypervisor wine explorer /desktop=keys,1024x768 \
    build/win-x64/launch_and_wait.exe "$program" "$(winepath -w "$ready")" 30000 >/dev/null 2>&1 &
  local launcher=$!
  for _ in $(seq 300); do [ -s "$ready" ] && break; sleep 0.1; done
  rm -f "$ready"
  xdotool mousemove $help_button click 1
  sleep 1.5
  xdotool mousemove $help_caption mousedown 1 mousemove $help_moved mouseup 1
  sleep 1
  xdotool mousemove $caption click 1
  sleep 1
  shoot 0-help-open-settings-clicked
  press 1-tab Tab 0-help-open-settings-clicked
  press 2-tab Tab 1-tab
  press 3-alt-e alt+e 2-tab
  xdotool key Escape
  sleep 2
  shoot 4-escape
  if kill -0 "$launcher" 2>/dev/null; then
    echo "Escape: the program is still running ($out/4-escape.png); ended now"
  else
    echo "Escape: the program ended ($out/4-escape.png)"
  fi
  wineserver -k 2>/dev/null || true
  wait "$launcher" 2>/dev/null || true
}

with_xvfb measure
