#!/usr/bin/env bash
# Runs a command as on a host whose kernel refuses 32-bit programs, to try the project's other
# path for real (VIVEDIZ_WINE32=0 only pretends):
#
#   bash scripts/without_32bit.sh make test
#
# The command runs in a user and mount namespace of its own whose binfmt_misc answers every i386
# program with "Exec format error". binfmt_misc has an instance per user namespace from Linux 6.7
# on, so nothing outside the namespace changes. It cannot be combined with --emulate, which needs
# to register i386 itself.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: bash scripts/without_32bit.sh COMMAND [ARGUMENT...]" >&2
  exit 2
fi

refuse=$(mktemp /tmp/vivediz-refuse-i386.XXXXXX)
trap 'rm -f "$refuse"' EXIT
cat >"$refuse" <<'EOF'
#!/bin/sh
echo "$1: cannot execute binary file: Exec format error" >&2
exit 126
EOF
chmod 755 "$refuse"

# The i386 format as the emulated run registers it (i386_magic, i386_mask).
source "$(dirname "$0")/x86_emulation.sh"
unshare --user --map-root-user --mount --fork bash -c '
  set -e
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc
  printf "%s" ":refuse-i386:M::$1:$2:$3:" >/proc/sys/fs/binfmt_misc/register
  if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then
    echo "without_32bit: i386 programs still run; this kernel may be older than 6.7" >&2
    exit 1
  fi
  shift 3
  exec "$@"
' without_32bit "$i386_magic" "$i386_mask" "$refuse" "$@"
