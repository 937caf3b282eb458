#!/usr/bin/env bash
# Signs a release with a throwaway certificate authority made here (openssl, in a temporary folder)
# and checks that osslsigncode accepts the signatures (vivediz.exe and vivediz-undo.exe), that
# removing them gives back the unsigned build, that the programs still pass the binary check and
# start under Wine, and that a wrong password or a certificate not meant for code signing leaves
# no release behind.
# Needs dist/ built (scripts/build.sh windows). The unsigned release it compares with is the one
# the test command made for its stages when VIVEDIZ_SUITE_RELEASE names it, else one made here.
# Prints "ok"/"FAIL" lines, then "N passed, N failed[, M skipped]" (skipped: x86 scenarios on a
# host that cannot run them).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each release below gets exactly the signing settings given to it, none from the caller.
unset SIGN_PKCS12 SIGN_CERTS SIGN_KEY SIGN_PASSWORD_FILE SIGN_TIMESTAMP_URL

source tests/check.sh
skipped=0
tmp=$(mktemp -d /tmp/vivediz-signing.XXXXXX)
trap 'rm -rf "$tmp"' EXIT
umask 077


# A certificate authority, a code-signing certificate from it (also as a PKCS#12 file with a
# random password, which only files ever hold) and a server certificate for the same key.
make_certificates() (
  cd "$tmp"
  openssl rand -hex 16 >password
  openssl rand -hex 16 >wrong-password
  openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 \
    -subj "/CN=vivediz throwaway CA" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr \
    -subj "/CN=vivediz throwaway publisher"
  for purpose in codeSigning serverAuth; do
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' \
      "$purpose" >"$purpose.ext"
    openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 1 \
      -extfile "$purpose.ext" -out "$purpose.pem"
  done
  openssl pkcs12 -export -in codeSigning.pem -inkey signer.key -certfile ca.pem -out signer.p12 \
    -passout file:password
) >"$tmp/certificates.log" 2>&1

release() {  # release OUT [VARIABLE=VALUE...]: make_release.py into OUT with the given settings
  local out=$1
  shift
  env "$@" python3 release/make_release.py --out "$out"
}

same_sum() {  # same_sum FILE-A FILE-B
  [ "$(sha256sum <"$1")" = "$(sha256sum <"$2")" ] || { echo "$1 and $2 differ"; return 1; }
}

signature_removed_is_unsigned() {  # ARCH/PROGRAM signed, without its signature: dist's bytes
  local stripped=$tmp/stripped-${1//\//-}
  osslsigncode remove-signature -in "$signed/$1" -out "$stripped" && same_sum "$stripped" "dist/$1"
}

zip_holds_folder() {  # every file of the folder, and nothing else, in the zip; the sums hold
  (cd "$signed" && sha256sum -c SHA256SUMS) &&
    grep -q "valid only while the certificate is" "$signed/BUILDINFO" &&
    python3 - "$signed" "$signed.zip" <<'EOF'
import os, sys, zipfile
folder, packed = sys.argv[1], zipfile.ZipFile(sys.argv[2])
name = os.path.basename(folder)
files = sorted(os.path.relpath(os.path.join(d, f), folder)
               for d, _, fs in os.walk(folder) for f in fs)
assert sorted(packed.namelist()) == [name + "/" + f for f in files], packed.namelist()
for f in files:
    assert packed.read(name + "/" + f) == open(os.path.join(folder, f), "rb").read(), f
EOF
}

image_holds_folder() {  # image_holds_folder FOLDER: its image's Joliet tree is it, byte for byte
  local read_back
  read_back=$tmp/read-back-$(basename "$(dirname "$1")")
  xorriso -no_rc -osirrox on -read_fs norock -indev "$1.iso" -extract / "$read_back" \
    >"$tmp/xorriso.log" 2>&1 || { cat "$tmp/xorriso.log"; return 1; }
  chmod -R u+w "$read_back"  # a disc's files come out read-only
  diff -r "$1" "$read_back"
}

text_files_read_well() {  # both text files end every line in CR LF; the guide has no source's notes
  python3 - "$unsigned" <<'EOF'
import os, sys
for name in ("SHA256SUMS", "ADMINISTRATORS.txt"):
    data = open(os.path.join(sys.argv[1], name), "rb").read()
    assert data.endswith(b"\r\n") and data.count(b"\n") == data.count(b"\r\n"), name
guide = open(os.path.join(sys.argv[1], "ADMINISTRATORS.txt"), "rb").read()
for leftover in (b"<!--", b"docs/", b"](", b".png"):
    assert leftover not in guide, leftover
EOF
}

relative_release_is_the_callers() {  # reproduce.sh RELEASE, relative to the caller's folder
  local none=0000000000000000000000000000000000000000
  mkdir -p "$tmp/elsewhere"
  cp -r "$signed" "$tmp/elsewhere/release"
  sed -i "s/^Commit: .*/Commit: $none/" "$tmp/elsewhere/release/BUILDINFO"
  local repo=$PWD
  (cd "$tmp/elsewhere" && bash "$repo/scripts/reproduce.sh" release) >"$tmp/reproduced" 2>&1
  grep -q "commit $none is not in this repository" "$tmp/reproduced" ||
    { cat "$tmp/reproduced"; return 1; }
}

# A xorriso that fails after writing part of an image.
make_failing_xorriso() {
  mkdir -p "$tmp/failing-xorriso"
  cat >"$tmp/failing-xorriso/xorriso" <<'EOF'
#!/bin/sh
while [ "$#" -gt 0 ]; do [ "$1" = -o ] && echo partial >"$2"; shift; done
echo "xorriso : FAILURE : Cannot write (a failure made by the test)" >&2
exit 5
EOF
  chmod +x "$tmp/failing-xorriso/xorriso"
}

tampered_release_is_found() {  # one byte changed and a recorded version changed: both named
  cp -r "$signed" "$tmp/tampered"
  sed -i 's/^  cmake .*/  cmake 0.0-tampered/' "$tmp/tampered/BUILDINFO"
  printf 'X' | dd of="$tmp/tampered/x86/vivediz.exe" bs=1 seek=1024 conv=notrunc 2>/dev/null
  ! python3 release/compare.py "$tmp/tampered" "$unsigned" >"$tmp/compared" &&
    grep -q '^FAIL x86/vivediz.exe' "$tmp/compared" && grep -q '^ok   x64/vivediz.exe' "$tmp/compared" &&
    grep -q 'cmake: recorded 0.0-tampered, here ' "$tmp/compared" || { cat "$tmp/compared"; return 1; }
}

# The unsigned release made once for the test's stages, or, run alone, one made here.
unsigned_release() {
  if [ -z "${VIVEDIZ_SUITE_RELEASE:-}" ]; then
    release "$tmp/unsigned-release"
  elif [ -d "$unsigned" ]; then
    echo "the one made for the test's stages: $VIVEDIZ_SUITE_RELEASE"
  else
    echo "$unsigned is missing: the test command makes it before the stages that read it"
    return 1
  fi
}

refused() {  # refused WORDS VARIABLE=VALUE...: one line naming WORDS, exit 1, no release left
  local words=$1 status=0
  shift
  rm -rf "$tmp/refused"
  cp -r "$(dirname "$unsigned")" "$tmp/refused"  # an earlier release there must go too
  release "$tmp/refused" "$@" >/dev/null 2>"$tmp/error" || status=$?
  cat "$tmp/error"
  [ "$status" -eq 1 ] && [ "$(wc -l <"$tmp/error")" -eq 1 ] && grep -q "$words" "$tmp/error" &&
    [ -z "$(ls -A "$tmp/refused")" ]
}

# run_counted WHAT COMMAND...: a command with its own "N passed, N failed[, M skipped]" line,
# shown indented and added to this script's counts.
run_counted() {
  local what=$1 status=0 line
  shift
  echo "-- $what"
  "$@" >"$tmp/counted" 2>&1 || status=$?
  grep -v "^ok " "$tmp/counted" | sed 's/^/    /' || true
  line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$tmp/counted" | tail -n 1)
  if [ -z "$line" ]; then
    failed=$((failed + 1))
    return
  fi
  passed=$((passed + ${line%% passed*}))
  local f=${line#*, }
  f=${f%% failed*}
  [ "$status" -ne 0 ] && [ "$f" -eq 0 ] && f=1
  failed=$((failed + f))
  if [[ $line =~ ,\ ([0-9]+)\ skipped ]]; then skipped=$((skipped + BASH_REMATCH[1])); fi
}

if ! make_certificates; then
  cat "$tmp/certificates.log"
  echo "0 passed, 1 failed"
  exit 1
fi
name=vivediz-$(sed -nE 's/.*VALUE +"FileVersion", *"([0-9.]+)".*/\1/p' resources/vivediz.rc)
signed=$tmp/signed/$name
unsigned=${VIVEDIZ_SUITE_RELEASE:-$tmp/unsigned-release}/$name
check "an unsigned release" unsigned_release
check "a release signed with a throwaway PKCS#12 certificate" release "$tmp/signed" \
  SIGN_PKCS12="$tmp/signer.p12" SIGN_PASSWORD_FILE="$tmp/password"
for program in {x64,x86}/{vivediz,vivediz-undo}.exe; do
  check "$program: osslsigncode verify accepts the signature against the throwaway authority" \
    osslsigncode verify -CAfile "$tmp/ca.pem" -in "$signed/$program"
  check "$program: without its signature, the program is the unsigned build" \
    signature_removed_is_unsigned "$program"
done
check "the zip holds the signed folder, whose SHA256SUMS hold and whose BUILDINFO says it has no timestamp" \
  zip_holds_folder
for packed in zip iso; do
  check "compare.py finds the signed $packed equal to the unsigned release" \
    python3 release/compare.py "$signed.$packed" "$unsigned"
done
check "the unsigned image's Joliet names and files are the unsigned release's" \
  image_holds_folder "$unsigned"
check "the signed image's Joliet names and files are the signed release's" \
  image_holds_folder "$signed"
check "SHA256SUMS and ADMINISTRATORS.txt end lines in CR LF; the guide has no comment or path" \
  text_files_read_well
check "reproduce.sh takes a relative release from the caller's folder" \
  relative_release_is_the_callers
check "compare.py names a changed byte and a recorded version that differs" \
  tampered_release_is_found
check "a wrong password: one line, no release" refused "wrong password" \
  SIGN_PKCS12="$tmp/signer.p12" SIGN_PASSWORD_FILE="$tmp/wrong-password"
check "a server certificate: one line, no release" refused "not a code-signing certificate" \
  SIGN_CERTS="$tmp/serverAuth.pem" SIGN_KEY="$tmp/signer.key"
make_failing_xorriso
check "a failed disc image: one line, no release, no partial image" refused "xorriso : FAILURE : Cannot write" \
  PATH="$tmp/failing-xorriso:$PATH"
run_counted "the binary check on the signed programs" tools/check_binaries.py "$signed"
run_counted "the shipped program's scenarios under Wine, on the signed programs" \
  bash scripts/e2e.sh --only shipped_program --shipped "$signed"

if [ "$skipped" -gt 0 ]; then
  echo "$passed passed, $failed failed, $skipped skipped"
else
  echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ]
