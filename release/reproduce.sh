#!/usr/bin/env bash
# Rebuilds the checked-out commit in a fresh temporary folder and compares the SHA-256 sums of the
# programs (vivediz.exe and vivediz-undo.exe, both architectures), the release zip, the disc image
# and the acceptance kit's zip with the ones made here.
# Equal sums show that the files here are exactly what this commit builds, wherever and whenever
# it is built.
# Prints one line per file and "N passed, N failed"; exits 1 on any difference.
# --skip-if-changed (the test command): with uncommitted changes the files here are not the
# commit's, so nothing is compared, and the output says so. With VIVEDIZ_SUITE_RELEASE the test
# command has built the programs and made the release once for its stages; those are compared.
#
# reproduce.sh RELEASE: checks a release, signed or not, its zip, disc image or folder (from a
# vendor, say): rebuilds the commit that its BUILDINFO records, with its SOURCE_DATE_EPOCH, removes
# the signatures and compares (release/compare.py); when anything differs, it names the recorded
# package versions that differ from this machine's. The commit must be in this repository.
# The clone runs that commit's own release step: release/make_release.py, or scripts/release.py in
# commits from before the release's steps moved to release/.
set -euo pipefail
option=${1:-}
if [ -n "$option" ] && [ "$option" != --skip-if-changed ]; then
  # A release named by a relative path is the caller's, so it is found before leaving their folder.
  [ -e "$option" ] || { echo "reproduce: no release $option"; echo "0 passed, 1 failed"; exit 1; }
  release=$(realpath "$option")
fi
cd "$(dirname "$0")/.."
# The releases compared here are unsigned, whatever the caller's environment says.
unset SIGN_PKCS12 SIGN_CERTS SIGN_KEY SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL

# skip REASON: with --skip-if-changed a skip compares nothing and says so; otherwise it fails.
skip() {
  echo "reproduce: SKIPPED, not compared: $1"
  echo "0 passed, 0 failed, 1 skipped"
  [ "${option:-}" = --skip-if-changed ] && exit 0
  exit 1
}
# build_clone COMMIT: the commit's programs and unsigned release (with its acceptance kit, where it
# has one), built in $tmp/src.
build_clone() {
  git clone -q --no-checkout . "$tmp/src"
  git -C "$tmp/src" checkout -q "$1"
  echo "reproduce: building $1 in $tmp/src"
  (
    cd "$tmp/src"
    for preset in win-x64 win-x86; do
      cmake --preset "$preset" >/dev/null
      # The shipped programs, and what the acceptance kit holds besides where the commit has one.
      targets=(vivediz)
      [ -f kit/accept.cpp ] && targets+=(vivediz_e2e planted_uxtheme accept)
      [ -f undo/win32_main.cpp ] && targets+=(vivediz_undo)
      cmake --build --preset "$preset" --target "${targets[@]}" -- --no-print-directory -s \
        >/dev/null
    done
    if [ -f release/make_release.py ]; then
      python3 release/make_release.py >/dev/null
    else
      python3 scripts/release.py >/dev/null
    fi
  )
}

if [ -n "${release:-}" ]; then
  read -r commit epoch < <(python3 release/compare.py --recorded "$release") ||
    { echo "0 passed, 1 failed"; exit 1; }
  if ! git cat-file -e "$commit^{commit}" 2>/dev/null; then
    echo "reproduce: commit $commit is not in this repository; fetch it first"
    echo "0 passed, 1 failed"
    exit 1
  fi
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  export SOURCE_DATE_EPOCH=$epoch
  build_clone "$commit"
  status=0
  python3 release/compare.py "$release" "$(echo "$tmp"/src/out/release/vivediz-*/)" ||
    status=$?
  exit "$status"
fi

commit=$(git rev-parse --verify -q HEAD 2>/dev/null) || skip "this folder is not a git checkout"
if [ -n "$(git status --porcelain --untracked-files=no)" ]; then
  [ "$option" = --skip-if-changed ] && skip "this folder has uncommitted changes"
  echo "reproduce: this folder has uncommitted changes; its files are compared with the commit's" \
    >&2
fi
# The test command has built this checkout and made its release once for its stages.
made=${VIVEDIZ_SUITE_RELEASE:-}
if [ -z "$made" ]; then
  bash scripts/build.sh windows
  python3 release/make_release.py >/dev/null
  made=out/release
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
build_clone "$commit"

passed=0
failed=0
name=vivediz-$(sed -nE 's/.*VALUE +"FileVersion", *"([0-9.]+)".*/\1/p' resources/vivediz.rc)
for file in dist/x64/vivediz.exe dist/x86/vivediz.exe dist/x64/vivediz-undo.exe \
  dist/x86/vivediz-undo.exe "out/release/$name.zip" \
  "out/release/$name.iso" "out/release/$name-acceptance.zip"; do
  here_file=${file/#out\/release/$made}
  if [ ! -f "$here_file" ]; then
    echo "FAIL $here_file is missing; the test command makes it before the stages that read it"
    failed=$((failed + 1))
    continue
  fi
  here=$(sha256sum "$here_file" | cut -d' ' -f1)
  there=$(sha256sum "$tmp/src/$file" | cut -d' ' -f1)
  if [ "$here" = "$there" ]; then
    echo "ok   $here_file $here"
    passed=$((passed + 1))
  else
    echo "FAIL $here_file here $here, fresh clone $there"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
