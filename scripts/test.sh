#!/usr/bin/env bash
# Runs every test: the native unit tests, the checks on the Windows programs themselves, the fuzz
# regressions and the end-to-end scenarios under Wine. Every stage runs even when an earlier one
# failed; the last line adds them up.
set -uo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh test || exit 1
bash scripts/build.sh || exit 1

passed=0
failed=0
skipped=0
log=$(mktemp)
# The unsigned release of dist/ with its acceptance kit, made once below for every stage that reads
# them (each of those, run alone, makes its own).
export VIVEDIZ_SUITE_RELEASE
VIVEDIZ_SUITE_RELEASE=$(mktemp -d /tmp/vivediz-suite.XXXXXX)
trap 'rm -f "$log"; rm -rf "$VIVEDIZ_SUITE_RELEASE"' EXIT

# stage TITLE COMMAND...: runs the command, shows its output, and counts its "N passed, N failed"
# line (with ", N skipped" where it has one; or ctest's summary); a stage that fails without such
# a line counts as one failure. Skipped checks are counted apart, never as passed.
stage() {
  echo "== $1"
  shift
  local started=$SECONDS
  "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]}
  echo "   ($((SECONDS - started)) s)"
  local line p f s=0
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
  if [ -n "$line" ]; then
    p=${line%% passed*}
    f=${line#*, }
    f=${f%% failed*}
    if [[ $line =~ ,\ ([0-9]+)\ skipped ]]; then s=${BASH_REMATCH[1]}; fi
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
  skipped=$((skipped + s))
}

# One CTest entry runs the whole suite; gtest shows only the failures. The count is of test cases,
# from gtest's report: every failed case by name, then "N passed, N failed" (skipped ones apart).
unit_tests() {
  local report=build/native/unit_tests.json status
  rm -f "$report"
  ctest --preset native --timeout 120 | grep -v -E '^ +Start +[0-9]+: |Passed +[0-9.]+ sec$'
  status=${PIPESTATUS[0]}
  if [ ! -f "$report" ]; then
    # The binary died before its report: a second run names the case it died in.
    echo "unit tests: the test binary ended without its report; it died in:"
    build/native/vivediz_tests 2>&1 | grep -F '[ RUN      ]' | tail -n 1
    return 1
  fi
  python3 - "$report" <<'EOF' || status=1
import json, sys
try:
    with open(sys.argv[1]) as f:
        suites = json.load(f)["testsuites"]
except (OSError, ValueError, KeyError) as e:
    sys.exit(f"unit tests: unreadable report from the test binary ({e})")
cases = [(s["name"] + "." + t["name"], t) for s in suites for t in s["testsuite"]]
ran = [(name, t) for name, t in cases if t.get("status") == "RUN"]
failed = [name for name, t in ran if t.get("failures")]
skipped = [name for name, t in ran if t.get("result") == "SKIPPED" and not t.get("failures")]
for name in failed:
    print("FAILED " + name)
summary = f"{len(ran) - len(failed) - len(skipped)} passed, {len(failed)} failed"
print(summary + (f", {len(skipped)} skipped" if skipped else ""))
EOF
  return "$status"
}
stage "the set-up, against a stand-in for apt" bash tests/setup/run.sh
stage "native unit tests" unit_tests
stage "the release and its acceptance kit, made once for the stages that read them" \
  env -u SIGN_PKCS12 -u SIGN_CERTS -u SIGN_KEY -u SIGN_PASSWORD_FILE -u SIGN_TIMESTAMP_URL \
  python3 release/make_release.py --out "$VIVEDIZ_SUITE_RELEASE"
stage "the Windows programs themselves" tools/check_binaries.py dist --kit build/e2e
stage "the same programs from a fresh clone" bash scripts/reproduce.sh --skip-if-changed
stage "the signed release (throwaway certificate)" bash tests/signed_release.sh
[ -f scripts/fuzz.sh ] && stage "fuzz regressions" bash scripts/fuzz.sh regress
stage "which Wine runs, and the Wine root's keeping" bash tests/wine_choice.sh
stage "the guide's commands under Wine" bash tests/guide/run.sh
stage "the programs under Wine, from the acceptance kit" bash scripts/e2e.sh
stage "the acceptance kit as on Windows: registry before equals after" bash tests/kit_as_windows.sh

echo "== all stages ($SECONDS s)"
if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
