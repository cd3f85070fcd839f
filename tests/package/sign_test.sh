#!/usr/bin/env bash
# The release package's provenance and signing, on a throwaway copy of the
# working tree committed in a repository of its own (the real checkout is
# never changed), built into a folder git does not ignore:
# - a build names its commit in README.txt and in both programs' product
#   version; its own build folder and ignored files leave the tree clean, a
#   changed file marks it "-dirty";
# - signed, both programs carry a valid SHA-256 Authenticode signature,
#   SHA256SUMS and the archive's .sha256 match what is signed, README.txt
#   says it is signed, and with the signatures removed each program is byte
#   for byte the unsigned build's;
# - signing fails, with its reason, for a tree with uncommitted changes and
#   one that is no git checkout.
# Usage: tests/package/sign_test.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
fail() { echo "sign test: FAIL: $*" >&2; exit 1; }
for tool in git osslsigncode openssl unzip cpack strings; do
  command -v $tool >/dev/null || fail "needs $tool"
done
work=$(mktemp -d /tmp/zandor-sign.XXXXXX)
trap '[[ -n ${KEEP:-} ]] || rm -rf "$work"' EXIT

tree=$work/tree out=$work/tree/out
mkdir "$tree"
git ls-files -z -co --exclude-standard | while IFS= read -r -d '' f; do
  [[ -e $f ]] && printf '%s\0' "$f"  # a tracked file deleted in the working tree is not copied
done | tar --null -T - -cf - | tar -xf - -C "$tree"
g() { git -C "$tree" -c user.name=test -c user.email=test@example.invalid -c init.defaultBranch=main "$@"; }
g init -q && g add -A && g commit -qm copy
head=$(g rev-parse HEAD)
version=$(sed -n 's/^project(zandor_patcher VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

(cd "$tree" && cmake --preset win32 -B "$out" >"$work/build.log" 2>&1) || { tail "$work/build.log"; fail "configure"; }
package() { cmake --build "$out" -j "$(nproc)" --target package >>"$work/build.log" 2>&1; }
package || { tail -n 30 "$work/build.log"; fail "the unsigned package did not build"; }
unsigned=$(ls "$out"/zandor-patcher-*-win32.zip)
top=$(basename "$unsigned" .zip)
# The commit a package names, in README.txt and in each program.
named() {
  unzip -p "$1" "$top/README.txt" | sed -n 's/^Source commit: \(.*\)\r$/\1/p'
  for exe in zandor-patcher.exe zandor-patcher-cli.exe; do
    unzip -p "$1" "$top/$exe" >"$work/named.exe"
    strings -el "$work/named.exe" | sed -n '/^ProductVersion$/{n;p}'
  done
}
[[ $(named "$unsigned" | xargs) == "$head $version+$head $version+$head" ]] \
  || fail "the clean build names $(named "$unsigned" | xargs), not $head"
unzip -p "$unsigned" "$top/README.txt" | grep -q '^The programs are not signed\.' || fail "README.txt does not say unsigned"

openssl rand -hex 16 >"$work/password"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=ZANDOR test signer" \
  -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.pfx" \
  -passout "file:$work/password"
export ZANDOR_SIGN_PFX=$work/cert.pfx ZANDOR_SIGN_PASSWORD_FILE=$work/password
# The package target's own packaging step, into another folder, signed.
sign() { rm -rf "$work/signed"; cpack --config "$out/CPackConfig.cmake" -B "$work/signed" >"$work/cpack.log" 2>&1; }

mkdir -p "$tree/demo" && touch "$tree/demo/ignored"
sign || { cat "$work/cpack.log"; fail "signed packaging failed"; }
signed=$(ls "$work"/signed/zandor-patcher-*-win32.zip)
[[ $(basename "$signed") == $(basename "$unsigned") ]] || fail "signed package named $(basename "$signed")"
(cd "$work/signed" && sha256sum --quiet -c ./*.zip.sha256) || fail "the signed archive's .sha256 does not match"
unzip -q "$signed" -d "$work/s" && unzip -q "$unsigned" -d "$work/u"
(cd "$work/s/$top" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match the signed files"
for exe in zandor-patcher.exe zandor-patcher-cli.exe; do
  osslsigncode verify -CAfile "$work/cert.pem" -in "$work/s/$top/$exe" >"$work/verify.log" 2>&1 \
    || { cat "$work/verify.log"; fail "$exe: no valid signature"; }
  grep -q 'Message digest algorithm *: SHA256' "$work/verify.log" || fail "$exe: not signed with SHA-256"
  osslsigncode remove-signature -in "$work/s/$top/$exe" -out "$work/$exe" >/dev/null
  cmp "$work/$exe" "$work/u/$top/$exe" || fail "$exe without its signature differs from the unsigned build"
done
cmp "$work/s/$top/LICENSE" "$work/u/$top/LICENSE" || fail "LICENSE differs"
diff <(sed 's/^The programs are not signed\./Both programs are signed: see Properties, Digital Signatures./' \
  "$work/u/$top/README.txt") "$work/s/$top/README.txt" >/dev/null || fail "the signed README.txt does not say signed"

# Each: what makes the tree unfit to sign, what puts it back, the reason
# given, and what a build of it then names.
refusals=(
  "echo >>README.md|g checkout -q README.md|has uncommitted changes|$head-dirty"
  "echo >>README.md; g add README.md|g reset -q --hard|has uncommitted changes|$head-dirty"
  "touch src/new.cpp|rm src/new.cpp|has uncommitted changes|$head-dirty"
  "mv .git .git.off|mv .git.off .git|is not a git checkout|unknown"
)
provenance() { cmake --build "$out" --target zandor_provenance >>"$work/build.log" 2>&1 && cat "$out/provenance/commit_id.txt"; }
for r in "${refusals[@]}"; do
  IFS='|' read -r spoil mend reason id <<<"$r"
  (cd "$tree" && eval "$spoil")
  ! sign || fail "signed after: $spoil"
  tr -s '\n ' '  ' <"$work/cpack.log" | grep -q "not signing: .*$reason" || { cat "$work/cpack.log"; fail "no reason given after: $spoil"; }
  [[ ! -e $work/signed/$top.zip ]] || fail "a package was left after: $spoil"
  [[ $(provenance) == "$id" ]] || fail "a build after \"$spoil\" names $(provenance), not $id"
  (cd "$tree" && eval "$mend")
  [[ $(provenance) == "$head" ]] || fail "not clean again after: $mend"
done

# The package target itself fails for a changed tree, and names it.
echo >>"$tree/README.md"
! package || fail "the package target signed a changed tree"
unset ZANDOR_SIGN_PFX
package || fail "the unsigned package of a changed tree did not build"
[[ $(named "$unsigned" | xargs) == "$head-dirty $version+$head-dirty $version+$head-dirty" ]] \
  || fail "the changed tree's build names $(named "$unsigned" | xargs)"
echo "sign test: both programs signed and verified; unsigned again they equal the unsigned build;" \
  "packages name their commit; ${#refusals[@]} unfit trees and the package target refused"
