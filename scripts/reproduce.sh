#!/usr/bin/env bash
# Rebuilds the checked-out commit in a fresh temporary folder and compares the SHA-256 sums of both
# programs and of the release zip with the ones made here. Equal sums show that the files here
# are exactly what this commit builds, wherever and whenever it is built.
# Prints one line per file and "N passed, N failed"; exits 1 on any difference.
set -euo pipefail
cd "$(dirname "$0")/.."

commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  echo "reproduce: this folder has uncommitted changes; its files are compared with the commit's" >&2
fi
bash scripts/build.sh windows
python3 scripts/release.py >/dev/null

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
git clone -q --no-checkout . "$tmp/src"
git -C "$tmp/src" checkout -q "$commit"
echo "reproduce: building $commit in $tmp/src"
(
  cd "$tmp/src"
  for preset in win-x64 win-x86; do
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" --target vivediz -- --no-print-directory -s >/dev/null
  done
  python3 scripts/release.py >/dev/null
)

passed=0
failed=0
version_zip=$(cd out/release && ls vivediz-*.zip)
for file in dist/x64/vivediz.exe dist/x86/vivediz.exe "out/release/$version_zip"; do
  here=$(sha256sum "$file" | cut -d' ' -f1)
  there=$(sha256sum "$tmp/src/$file" | cut -d' ' -f1)
  if [ "$here" = "$there" ]; then
    echo "ok   $file $here"
    passed=$((passed + 1))
  else
    echo "FAIL $file here $here, fresh clone $there"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
