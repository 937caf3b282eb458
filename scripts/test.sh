#!/usr/bin/env bash
# Runs every test: the native unit tests, then the checks on the Windows programs themselves.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/bootstrap.sh
bash scripts/build.sh

echo "== native unit tests"
# One line per failure and the summary; the passing tests' lines are left out.
ctest --preset native -j2 --timeout 120 2>&1 | grep -v -E '^ +Start +[0-9]+: |Passed +[0-9.]+ sec$'

echo "== the Windows programs themselves"
python3 tools/check_binaries.py dist
