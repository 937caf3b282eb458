#!/usr/bin/env bash
# Which Wine the scripts choose (scripts/wine_env.sh) on each kind of host, and how the Wine root
# is kept (scripts/wine_root.sh): a root is made only where it runs what the host cannot, a
# failure is said and not retried in every stage, and an old root is never removed while a run
# holds it or anything is mounted inside it. Makes no root: the making is stood in for.
# Prints one line per check and "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/.."
tmp=$(mktemp -d /tmp/vivediz-wine-choice.XXXXXX)
holder=""
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null; rm -rf "$tmp"' EXIT
export VIVEDIZ_CACHE=$tmp/cache WINEPREFIX=$tmp/prefix
VIVEDIZ_WINE_ROOT=0 source scripts/wine_env.sh

source tests/check.sh

# The root as a row has it: made already, made on request, its 32-bit loader running.
root=$tmp/root
wine_root_path() { echo "$root"; }
wine_root_make() {
  [ -d "$root" ] && return 0
  makings=$((makings + 1))
  [ "$row_makes" = yes ] && mkdir "$root" && return 0
  wine_root_reason="the Wine root could not be made (stand-in)"
  return 1
}
wine_root_enter() { :; }
wine_root_run() { [ "$row_loader32" = yes ]; }

refuses="this host's kernel refuses"
missing="wine32:i386) is not installed"
# VIVEDIZ_WINE_ROOT VIVEDIZ_WINE32 kernel-runs-i386 host's-reason policy root-exists root-makes
# root's-loader32 -> status root-used makings VIVEDIZ_WINE32 reason ("-": empty)
rows="
- - 1 - make no yes yes                -> 0 no 0 1 -
- - 0 refuses make no yes yes          -> 0 no 0 0 refuses
- - 1 missing make no yes yes          -> 0 yes 1 1 -
- - 1 missing make no no -             -> 0 no 1 0 ;_and_the_Wine_root_could_not
- - 1 missing make no yes no           -> 0 yes 1 0 in_the_Wine_root_.*_does_not_start
- 0 1 missing make no yes yes          -> 0 no 0 0 asks_to_run_as_on_a_host
- - 1 missing existing no yes yes      -> 0 no 0 0 missing
- - 1 missing existing yes - yes       -> 0 yes 0 1 -
1 - 1 - make no yes yes                -> 0 yes 1 1 -
1 - 0 refuses make no yes yes          -> 0 yes 1 0 refuses
1 - 1 - make no no -                   -> 1 no 1 - -
1 - 1 - existing no yes yes            -> 0 yes 1 1 -
0 - 1 missing make no yes yes          -> 0 no 0 0 missing
"
while read -r env_root env_32 kernel_i386 host row_policy exists row_makes row_loader32 _ \
  want_status want_root want_makings want_32 want_reason; do
  [ -z "$env_root" ] && continue
  row="root=$env_root wine32=$env_32 kernel=$kernel_i386 host=$host policy=$row_policy exists=$exists makes=$row_makes loader32=$row_loader32"
  rm -rf "$root"
  [ "$exists" = yes ] && mkdir "$root"
  case "$host" in -) host_reason="" ;; *) host_reason="${!host}" ;; esac
  want_reason=${want_reason//_/ }
  case "$want_reason" in refuses | missing) want_reason=${!want_reason} ;; esac
  makings=0
  status=0
  # shellcheck disable=SC2034  # read by choose_wine
  (
    [ "$env_root" = - ] && unset VIVEDIZ_WINE_ROOT || export VIVEDIZ_WINE_ROOT=$env_root
    [ "$env_32" = - ] && unset VIVEDIZ_WINE32 || export VIVEDIZ_WINE32=$env_32
    wine_root_policy=$row_policy
    choose_wine 2>/dev/null || exit 1
    echo "$([ -n "$wine_root" ] && echo yes || echo no) $makings $VIVEDIZ_WINE32 ${wine32_reason:--}"
  ) >"$tmp/chosen" || status=$?
  read -r got_root got_makings got_32 got_reason <"$tmp/chosen"
  if [ "$want_status" = 1 ]; then
    check "$row: refused" test "$status" = 1
    continue
  fi
  check "$row: root used $want_root, made $want_makings times, VIVEDIZ_WINE32=$want_32" \
    test "$status $got_root $got_makings $got_32" = "0 $want_root $want_makings $want_32"
  if [ "$want_reason" = - ]; then
    check "$row: no reason" test "$got_reason" = -
  else
    check "$row: the reason says '$want_reason'" grep -q -- "$want_reason" <<<"$got_reason"
  fi
done <<<"$rows"

# A failed making is kept as the reason and not tried again for a day, unless asked.
source scripts/wine_root.sh
root=$(wine_root_path)
make_root() {
  echo making >>"$tmp/makings"
  [ "$row_makes" = yes ] && mkdir "$1" && return 0
  echo "no disk (stand-in)"
  return 1
}
tries() {  # tries MAKES RETRY: wine_root_make's status, the makings so far and its reason
  row_makes=$1
  local status=0
  VIVEDIZ_RETRY_PACKAGES=$2 wine_root_make 2>/dev/null || status=$?
  echo "$status $(cat "$tmp/makings" 2>/dev/null | wc -l) $wine_root_reason"
}
check "a failed making gives its reason" grep -q "^1 1 no disk (stand-in)$" <<<"$(tries no 0)"
check "the next run does not try again, and says when it will" \
  grep -q "^1 1 no disk (stand-in) (tried again after a day" <<<"$(tries yes 0)"
check "VIVEDIZ_RETRY_PACKAGES=1 tries again at once" grep -q "^0 2 $" <<<"$(tries yes 1)"
check "a made root forgets the failure" test -d "$root" -a ! -e "$root.failed"

# An old root is removed only when no run holds it and nothing is mounted inside it.
old=$wine_root_dir/0123456789abcdef
mkdir -p "$old/tmp" "$tmp/empty"
: >"$old.lock"
exec {lock}<"$old.lock"
flock -s "$lock"
remove_other_roots 2>/dev/null
check "an old root that a run holds stays" test -d "$old/tmp"
exec {lock}<&-
exec {ready}< <(unshare --mount --propagation private -- bash -c \
  'mount --bind "$1" "$2" && echo "$$" && exec sleep 60' _ "$tmp/empty" "$old/tmp" 2>&1)
read -r holder <&"$ready"
remove_other_roots 2>/dev/null
check "an old root with a mount inside it in another namespace stays" test -d "$old/tmp"
kill "$holder"
while kill -0 "$holder" 2>/dev/null; do sleep 0.1; done
holder=""
remove_other_roots 2>/dev/null
check "an old root that nothing uses is removed, with its lock" test ! -e "$old" -a ! -e "$old.lock"
check "the current root stays" test -d "$root"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
