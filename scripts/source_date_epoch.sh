#!/bin/sh
# Prints the time the programs' headers carry: SOURCE_DATE_EPOCH when the caller set it, else the
# time of the commit checked out in this folder, else 0 (the source is not a git checkout).
if [ -n "${SOURCE_DATE_EPOCH:-}" ]; then
  echo "$SOURCE_DATE_EPOCH"
  exit 0
fi
root=$(cd "$(dirname "$0")/.." && pwd -P)
top=$(git -C "$root" rev-parse --show-toplevel 2>/dev/null) || top=
time=
if [ -n "$top" ] && [ "$(cd "$top" && pwd -P)" = "$root" ]; then
  time=$(git -C "$root" log -1 --format=%ct 2>/dev/null) || time=
fi
echo "${time:-0}"
