#!/usr/bin/env bash
# Installs the Debian packages that a command cannot do without (scripts/packages.txt), and the
# ones it wants where the host can take them; quiet, and installs nothing, when all are present.
#
#   bash scripts/bootstrap.sh [build|test|run|release|bench|wine-root]     (test when not told)
#
# The package registry's indexes can be out of step with each other (a mirror mid-sync): the
# update is tried three times and the set-up then goes on with the indexes apt has. It fails only
# when a needed package cannot be installed, and names it with apt's reason. A wanted package that
# cannot be installed is said in one line and tried again a day later, or at once with
# VIVEDIZ_RETRY_PACKAGES=1. VIVEDIZ_PACKAGES names another list (the set-up's own test uses it).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/host.sh"

command=${1:-test}
case "$command" in
  build | test | run | release | bench | wine-root) ;;
  *)
    echo "usage: bash scripts/bootstrap.sh [build|test|run|release|bench|wine-root]" >&2
    exit 2
    ;;
esac

needed=()
wanted=()
while read -r package uses; do
  case "$package" in '' | '#'*) continue ;; esac
  uses=" $uses "
  [[ $uses == *" $command "* ]] || continue
  if [[ $uses == *" wanted "* ]]; then wanted+=("$package"); else needed+=("$package"); fi
done <"${VIVEDIZ_PACKAGES:-$here/packages.txt}"

installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -q '^install ok installed$'
}

failed_dir="$(vivediz_cache)/bootstrap"
# A wanted package that could not be installed less than a day ago is not tried again yet.
failed_recently() {
  [ "${VIVEDIZ_RETRY_PACKAGES:-}" = 1 ] && return 1
  [ -n "$(find "$failed_dir/$1.failed" -mmin -1440 2>/dev/null)" ]
}

missing=()
for p in "${needed[@]}"; do installed "$p" || missing+=("$p"); done
missing_wanted=()
for p in ${wanted[@]+"${wanted[@]}"}; do
  installed "$p" && continue
  # The 32-bit Wine is of no use where the kernel refuses 32-bit programs, or where asked to run
  # as on such a host; installed there, Debian's wine would start its 32-bit loader and fail.
  if [[ $p == *:i386 ]] && { [ "${VIVEDIZ_WINE32:-}" = 0 ] || ! kernel_runs_i386; }; then
    continue
  fi
  failed_recently "$p" || missing_wanted+=("$p")
done
[ ${#missing[@]} -eq 0 ] && [ ${#missing_wanted[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null; then
    if [ ${#missing[@]} -eq 0 ]; then
      echo "bootstrap: ${missing_wanted[*]} not installed (that needs root or sudo); going on without" >&2
      exit 0
    fi
    echo "bootstrap: ${missing[*]} must be installed, which needs root or sudo" >&2
    exit 1
  fi
  as_root=(sudo env DEBIAN_FRONTEND=noninteractive)
fi
export DEBIAN_FRONTEND=noninteractive
log=$(mktemp)
trap 'rm -f "$log"' EXIT

all_missing=(${missing[@]+"${missing[@]}"} ${missing_wanted[@]+"${missing_wanted[@]}"})
echo "bootstrap: installing ${all_missing[*]}" >&2
for p in ${missing_wanted[@]+"${missing_wanted[@]}"}; do
  if [[ $p == *:i386 ]] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${as_root[@]}" dpkg --add-architecture i386
  fi
done

# apt keeps every index it fetched when another one fails.
for try in 1 2 3; do
  "${as_root[@]}" apt-get update -qq >"$log" 2>&1 && break
  if [ "$try" -eq 3 ]; then
    echo "bootstrap: apt-get update failed three times ($(grep -m 1 '^E:' "$log" | sed 's/ *\[IP: .*//' | cut -c 1-200));" \
      "going on with the indexes it fetched" >&2
  else
    sleep $((try * 5))
  fi
done

# apt's reason why PACKAGE cannot be installed, in one or two lines.
reason_for() {
  "${as_root[@]}" apt-get install -s -qq --no-install-recommends "$1" >"$log" 2>&1 && return 0
  { grep -m 1 -E '^ [^ ]+ : ' "$log" | sed 's/^ *//' || true; } | cut -c 1-200
  grep -m 1 '^E:' "$log" | cut -c 1-200
}

install() {
  "${as_root[@]}" apt-get install -y -qq --no-install-recommends "$@" >"$log" 2>&1
}

if [ ${#missing[@]} -gt 0 ] && ! install "${missing[@]}"; then
  # Name each package that apt cannot install, rather than the resolver's whole account.
  named=0
  for p in "${missing[@]}"; do
    installed "$p" && continue
    why=$(reason_for "$p")
    [ -z "$why" ] && continue
    echo "bootstrap: cannot install $p, which '$command' needs:" >&2
    sed 's/^/  /' <<<"$why" >&2
    named=1
  done
  if [ "$named" -eq 0 ]; then
    echo "bootstrap: apt-get install ${missing[*]} failed:" >&2
    grep -E '^(E|W):' "$log" | head -n 2 >&2
  fi
  exit 1
fi

for p in ${missing_wanted[@]+"${missing_wanted[@]}"}; do
  if install "$p"; then
    rm -f "$failed_dir/$p.failed"
    continue
  fi
  why=$(reason_for "$p" | head -n 1)
  mkdir -p "$failed_dir"
  echo "$why" >"$failed_dir/$p.failed"
  echo "bootstrap: $p cannot be installed here ($why); going on without it," \
    "tried again after a day or with VIVEDIZ_RETRY_PACKAGES=1" >&2
done
exit 0
