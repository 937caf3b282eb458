# Sourced by the shell test stages: check WHAT COMMAND... runs the command and prints one line for
# its outcome, "ok   WHAT" or "FAIL WHAT" followed by what the command printed, indented; passed
# and failed count them for the stage's "N passed, N failed" line.
passed=0
failed=0
check() {
  local what=$1 said
  shift
  said=$(mktemp /tmp/vivediz-check.XXXXXX)
  if "$@" >"$said" 2>&1; then
    echo "ok   $what"
    passed=$((passed + 1))
  else
    echo "FAIL $what"
    sed 's/^/    /' "$said"
    failed=$((failed + 1))
  fi
  rm -f "$said"
}
