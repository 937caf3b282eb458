#!/usr/bin/env bash
# Runs every test: the native unit tests, the checks on the Windows programs themselves, the fuzz
# regressions and the end-to-end scenarios under Wine. Every stage runs even when an earlier one
# failed; the last line adds them up.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh || exit 1
bash scripts/build.sh || exit 1

passed=0
failed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# stage TITLE COMMAND...: runs the command, shows its output, and counts its "N passed, N failed"
# line (or ctest's summary); a stage that fails without such a line counts as one failure.
stage() {
  echo "== $1"
  shift
  "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  local line p f
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    p=${line%% passed*}
    f=${line#*, }
    f=${f%% failed*}
  elif line=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -n 1); then
    f=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
    p=$(( $(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line") - f ))
  else
    p=0
    f=0
  fi
  if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
  passed=$((passed + p))
  failed=$((failed + f))
}

# The passing unit tests' lines are left out: one line per failure and the summary.
unit_tests() {
  ctest --preset native -j2 --timeout 120 | grep -v -E '^ +Start +[0-9]+: |Passed +[0-9.]+ sec$'
}
stage "native unit tests" unit_tests
stage "the Windows programs themselves" python3 tools/check_binaries.py dist
stage "the same programs from a fresh clone" bash scripts/reproduce.sh --skip-if-changed
[ -f scripts/fuzz.sh ] && stage "fuzz regressions" bash scripts/fuzz.sh regress
stage "the programs under Wine" bash scripts/e2e.sh

echo "== all stages"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
