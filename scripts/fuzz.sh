#!/usr/bin/env bash
# Builds the libFuzzer targets in build/fuzz with clang++ and runs them, briefly or at length.
#
# "regress" (part of the tests) runs over copies of the seed corpora; "long" keeps a working corpus.
#
#   scripts/fuzz.sh regress [TARGET...]        every target (or those named) for a few seconds;
#                                              the repository's seeds are not changed
#   scripts/fuzz.sh long SECONDS [TARGET...]   each for SECONDS, one after the other, with the
#                                              working corpus build/fuzz/corpus-work/<target>;
#                                              prints the figures
#
# Exits non-zero when a target reports a finding (a failed check, a sanitizer report, a leak, a
# timeout); the input is saved under build/fuzz/artifacts/ and the log under build/fuzz/logs/.
set -euo pipefail
cd "$(dirname "$0")/.."

build_dir=build/fuzz
corpus_dir=tests/fuzz/corpus
regress_seconds=4

# Largest input per target: room for what each decodes (two 520-byte values, long key names, ids).
declare -A max_len=(
  [fuzz_field_rule]=512
  [fuzz_classify_windows]=2048
  [fuzz_hypervisor]=256
  [fuzz_serial_msi]=4096
  [fuzz_reenable]=4096
)

usage() {
  echo "usage: scripts/fuzz.sh regress [TARGET...] | long SECONDS [TARGET...]" >&2
  exit 2
}

build() {
  if ! command -v clang++ >/dev/null; then
    echo "fuzz: clang++ is needed (Debian: clang and libclang-rt-dev)" >&2
    exit 2
  fi
  if [ ! -f "$build_dir/CMakeCache.txt" ]; then
    cmake -S . -B "$build_dir" -DCMAKE_CXX_COMPILER=clang++ -DVIVEDIZ_FUZZ=ON \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >"$build_dir.configure.log" 2>&1 ||
      { cat "$build_dir.configure.log" >&2; exit 2; }
    rm -f "$build_dir.configure.log"
  fi
  local log
  log=$(mktemp)
  if ! nice -n 10 cmake --build "$build_dir" --target fuzz_targets -j2 >"$log" 2>&1; then
    cat "$log" >&2
    rm -f "$log"
    exit 2
  fi
  rm -f "$log"
}

# The targets: one per tests/fuzz/fuzz_*.cpp; with names, those (each must exist).
targets() {
  local source name
  if [ $# -eq 0 ]; then
    for source in tests/fuzz/fuzz_*.cpp; do basename "$source" .cpp; done
    return
  fi
  for name in "$@"; do
    if [ ! -f "tests/fuzz/$name.cpp" ]; then
      echo "fuzz: no target $name (tests/fuzz/$name.cpp)" >&2
      exit 2
    fi
    echo "$name"
  done
}

# Prints the figures of a finished run from its log: executions, coverage, corpus.
figures() {
  local log=$1 runs rate status
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  # The last status line, e.g. "#123456 DONE cov: 210 ft: 700 corp: 80/4096b ...".
  status=$(grep -E '^#[0-9]+[[:space:]]' "$log" | tail -n 1 || true)
  local cov ft corp
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$status")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$status")
  corp=$(sed -n 's/.* corp: \([0-9]*\/[0-9a-zA-Z]*\).*/\1/p' <<<"$status")
  printf 'executions %s (%s/s), cov %s, ft %s, corpus %s' "${runs:-?}" "${rate:-?}" "${cov:-?}" \
    "${ft:-?}" "${corp:-?}"
}

# run TARGET SECONDS CORPUS...: one libFuzzer run; returns libFuzzer's status.
run() {
  local target=$1 seconds=$2
  shift 2
  local log=$build_dir/logs/$target.log
  mkdir -p "$build_dir/logs" "$build_dir/artifacts"
  local status=0
  nice -n 10 "$build_dir/$target" -max_total_time="$seconds" -max_len="${max_len[$target]:-4096}" \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build_dir/artifacts/$target-" "$@" >"$log" 2>&1 || status=$?
  return "$status"
}

report_finding() {
  local target=$1 log=$build_dir/logs/$1.log
  echo "  FINDING in $target; log: $log" >&2
  grep -E 'Test unit written to|^fuzz_|ERROR: |SUMMARY: ' "$log" | head -n 20 | sed 's/^/    /' >&2
}

mode=${1:-}
case "$mode" in
  regress)
    shift
    selected=$(targets "$@")
    build
    failed=0
    findings=0
    ran=0
    start=$SECONDS
    for target in $selected; do
      ran=$((ran + 1))
      work=$build_dir/corpus-regress/$target
      rm -rf "$work"
      mkdir -p "$work"
      if [ -d "$corpus_dir/$target" ]; then
        cp "$corpus_dir/$target"/* "$work"/ 2>/dev/null || true
      fi
      if run "$target" "$regress_seconds" "$work"; then
        echo "fuzz $target: $(figures "$build_dir/logs/$target.log")"
      else
        report_finding "$target"
        failed=1
        findings=$((findings + 1))
      fi
    done
    echo "fuzz regression: $((SECONDS - start)) s"
    echo "$((ran - findings)) passed, $findings failed"
    exit "$failed"
    ;;
  long)
    if [ $# -lt 2 ] || ! [[ $2 =~ ^[1-9][0-9]*$ ]]; then usage; fi
    seconds=$2
    shift 2
    selected=$(targets "$@")
    build
    failed=0
    for target in $selected; do
      work=$build_dir/corpus-work/$target
      mkdir -p "$work"
      # New inputs go into the working corpus; the seeds are read from the repository each time.
      seeds=()
      if [ -d "$corpus_dir/$target" ]; then seeds=("$corpus_dir/$target"); fi
      started=$SECONDS
      if run "$target" "$seconds" "$work" "${seeds[@]}"; then
        echo "fuzz $target: $((SECONDS - started)) s, $(figures "$build_dir/logs/$target.log")," \
          "working corpus $(find "$work" -type f | wc -l) files"
      else
        echo "fuzz $target: stopped after $((SECONDS - started)) s," \
          "$(figures "$build_dir/logs/$target.log")"
        report_finding "$target"
        failed=1
      fi
    done
    exit "$failed"
    ;;
  *)
    usage
    ;;
esac
