#!/usr/bin/env bash
# Signs the release package with a throwaway self-signed certificate and
# checks it: osslsigncode finds a valid SHA-256 Authenticode signature on
# both programs, SHA256SUMS and the archive's .sha256 match what is signed,
# and with the signatures removed each program is byte for byte the unsigned
# build's. Usage: tests/package/sign_test.sh [WIN32_BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${1:-build/win32}
fail() { echo "sign test: FAIL: $*" >&2; exit 1; }
for tool in osslsigncode openssl unzip cpack; do
  command -v $tool >/dev/null || fail "needs $tool"
done
unsigned=$(ls "$build"/zandor-patcher-*-win32.zip 2>/dev/null | head -n 1)
[[ -f $unsigned ]] || fail "no unsigned package in $build (build its package target first)"
work=$(mktemp -d /tmp/zandor-sign.XXXXXX)
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT

openssl rand -hex 16 >"$work/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZANDOR test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
  -passout "file:$work/password"

# The package target's own packaging step, into another folder, signed.
ZANDOR_SIGN_PFX=$work/cert.pfx ZANDOR_SIGN_PASSWORD_FILE=$work/password \
  cpack --config "$build/CPackConfig.cmake" -B "$work/signed" >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log"; fail "signed packaging failed"; }
signed=$(ls "$work"/signed/zandor-patcher-*-win32.zip)
[[ $(basename "$signed") == $(basename "$unsigned") ]] || fail "signed package named $(basename "$signed")"
(cd "$work/signed" && sha256sum --quiet -c ./*.zip.sha256) || fail "the signed archive's .sha256 does not match"
unzip -q "$signed" -d "$work/s" && unzip -q "$unsigned" -d "$work/u"
top=$(basename "$unsigned" .zip)
(cd "$work/s/$top" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the signed files"
for exe in zandor-patcher.exe zandor-patcher-cli.exe; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/s/$top/$exe" >"$work/verify.log" 2>&1 \
    || { cat "$work/verify.log"; fail "$exe: no valid signature"; }
  grep -q 'Message digest algorithm *: SHA256' "$work/verify.log" || fail "$exe: not signed with SHA-256"
  osslsigncode remove-signature -in "$work/s/$top/$exe" -out "$work/$exe" >/dev/null
  cmp "$work/$exe" "$work/u/$top/$exe" || fail "$exe without its signature differs from the unsigned build"
done
for f in README.txt LICENSE; do cmp "$work/s/$top/$f" "$work/u/$top/$f" || fail "$f differs"; done
echo "sign test: both programs signed and verified; unsigned again they equal the unsigned build"
