#!/usr/bin/env bash
# The set-up (scripts/bootstrap.sh) against a stand-in for apt and dpkg: a package registry whose
# update fails, packages apt cannot install, a wanted package that cannot be installed. Touches
# nothing of the host's own package configuration. Prints ok/FAIL lines, then "N passed, N failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
tmp=$(mktemp -d /tmp/vivediz-setup.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

# The stand-in: installed packages in $state/installed, apt's calls logged in $state/calls.
# $state/update-failures: how many updates fail before one succeeds; $state/broken: packages
# apt cannot install, each with the reason apt gives.
mkdir -p "$tmp/bin"
cat >"$tmp/bin/dpkg-query" <<'STUB'
#!/bin/sh
for pkg; do :; done
grep -qx "$pkg" "$state/installed" && echo "install ok installed"
exit 0
STUB
cat >"$tmp/bin/dpkg" <<'STUB'
#!/bin/sh
echo "dpkg $*" >>"$state/calls"
[ "$1" = --print-foreign-architectures ] && cat "$state/architectures" 2>/dev/null
exit 0
STUB
cat >"$tmp/bin/apt-get" <<'STUB'
#!/bin/sh
echo "apt-get $*" >>"$state/calls"
case "$1" in
  update)
    left=$(cat "$state/update-failures" 2>/dev/null || echo 0)
    if [ "$left" -gt 0 ]; then
      echo $((left - 1)) >"$state/update-failures"
      echo "E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
      echo "E: Some index files failed to download. They have been ignored, or old ones used instead."
      exit 100
    fi
    exit 0 ;;
esac
simulate=0
status=0
for a in "$@"; do
  case "$a" in
    -s) simulate=1 ;;
    -*|install) ;;
    *)
      if grep -q "^$a " "$state/broken" 2>/dev/null; then
        echo "Some packages could not be installed. This may mean that you have"
        echo "The following packages have unmet dependencies:"
        grep "^$a " "$state/broken" | sed "s/^[^ ]* / $a : /"
        echo "E: Unable to correct problems, you have held broken packages."
        status=100
      fi ;;
  esac
done
[ $status -ne 0 ] && exit $status
[ $simulate -eq 1 ] && exit 0
for a in "$@"; do case "$a" in -*|install) ;; *) echo "$a" >>"$state/installed" ;; esac; done
exit 0
STUB
printf '#!/bin/sh\nexit 0\n' >"$tmp/bin/sleep"
chmod 755 "$tmp/bin/"*

cat >"$tmp/packages.txt" <<'LIST'
# a list of the real one's shape
cmake          build test
libgtest-dev   test
extra-tool     test wanted
LIST

passed=0
failed=0
# run_case NAME INSTALLED UPDATE-FAILURES BROKEN EXPECTED-STATUS EXPECTED-OUTPUT EXPECTED-CALLS
#   [ENV...]: runs "bootstrap.sh test" twice against a fresh stand-in (the second run with ENV);
#   the output and apt's calls of the last run are matched against extended regular expressions
#   ("^$" for none). A run before it with the same stand-in when the name ends in "again".
run_case() {
  local name=$1 installed=$2 failures=$3 broken=$4 want_status=$5 want_output=$6 want_calls=$7
  shift 7
  export state="$tmp/state-$passed-$failed"
  rm -rf "$state" "$tmp/cache"
  mkdir -p "$state"
  tr ' ' '\n' <<<"$installed" >"$state/installed"
  echo "$failures" >"$state/update-failures"
  printf '%b' "$broken" >"$state/broken"
  local run=(env PATH="$tmp/bin:$PATH" VIVEDIZ_PACKAGES="$tmp/packages.txt"
    VIVEDIZ_CACHE="$tmp/cache")
  if [[ $name == *again ]]; then "${run[@]}" bash scripts/bootstrap.sh test >/dev/null 2>&1; fi
  : >"$state/calls"
  local output status=0
  output=$("${run[@]}" "$@" bash scripts/bootstrap.sh test 2>&1) || status=$?
  local problems=()
  [ "$status" -eq "$want_status" ] || problems+=("exit status $status, expected $want_status")
  grep -Eq -- "$want_output" <<<"$output" || problems+=("output does not match: $want_output")
  [ "$want_output" = '^$' ] && [ -n "$output" ] && problems+=("output, expected none")
  grep -Eq -- "$want_calls" <<<"$(tr '\n' ';' <"$state/calls")" ||
    problems+=("apt's calls $(tr '\n' ';' <"$state/calls") do not match: $want_calls")
  if [ ${#problems[@]} -eq 0 ]; then
    echo "ok   $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    printf '    %s\n' "${problems[@]}"
    sed 's/^/    said: /' <<<"$output"
    failed=$((failed + 1))
  fi
}

unstable=' Depends: libssl3:i386 (= 3.0.22-1~deb12u1) but 3.0.17-1~deb12u2 is to be installed\n'
#        name                                 installed                          update broken                     status output                                                                                        apt's calls
run_case "everything present: quiet, no apt"  "cmake libgtest-dev extra-tool"    0      ""                         0      '^$'                                                                                          '^$'
run_case "one missing: installed"             "cmake extra-tool"                 0      ""                         0      '^bootstrap: installing libgtest-dev$'                                                       '^apt-get update -qq;apt-get install .*libgtest-dev;$'
run_case "an index out of step: three tries, then on" "cmake extra-tool"         5      ""                         0      'update failed three times \(E: Failed to fetch .*Mirror sync in progress\?\); going on'        '^(apt-get update -qq;){3}apt-get install .*libgtest-dev;$'
run_case "one failed update: no word of it"   "cmake extra-tool"                 1      ""                         0      '^bootstrap: installing libgtest-dev$'                                                       '^(apt-get update -qq;){2}apt-get install'
run_case "a needed package apt cannot take"   "cmake extra-tool"                 0      "libgtest-dev$unstable"    1      "cannot install libgtest-dev, which 'test' needs:"$'\n''  libgtest-dev : Depends: libssl3:i386 \(= 3.0.22-1~deb12u1\)'$'\n''  E: Unable to correct'  'apt-get install -s'
run_case "a wanted package apt cannot take"   "cmake libgtest-dev"               0      "extra-tool$unstable"      0      '^bootstrap: installing extra-tool'$'\n''bootstrap: extra-tool cannot be installed here \(extra-tool : Depends: libssl3:i386.*\); going on without it, tried again after a day' 'apt-get install -y -qq --no-install-recommends extra-tool;'
run_case "the wanted one, a run later: not tried again" "cmake libgtest-dev"     0      "extra-tool$unstable"      0      '^$'                                                                                          '^$'
run_case "the wanted one, asked to retry again" "cmake libgtest-dev"             0      "extra-tool$unstable"      0      'extra-tool cannot be installed here'                                                         'apt-get install -y -qq --no-install-recommends extra-tool;' VIVEDIZ_RETRY_PACKAGES=1
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
