#!/usr/bin/env bash
# The signing in docs/releasing.md with a key kept in a PKCS#11 token, run as written
# against a SoftHSM2 token: its module in place of OpenSC's, no timestamp
# (there is no network, and Debian 12's osslsigncode has no local authority),
# the PIN typed on standard input, the request certified by a throw-away CA.
# Then the signed file is reserved and stamped, and each file verifies.
#   pkcs11_signing_test.sh MIR_ATTRIBUTION PE RELEASING_MD WORK_DIR
set -euo pipefail
tool=$(realpath "$1") pe=$(realpath "$2") readme=$(realpath "$3") work=$(realpath -m "$4")
rm -rf "$work" && mkdir -p "$work/tokens" "$work/out" && cd "$work"
fail() { echo "FAILED: $*"; exit 1; }
softhsm=/usr/lib/softhsm/libsofthsm2.so
[ -f "$softhsm" ] || fail "no $softhsm: scripts/setup.sh installs softhsm2"

block=$(awk '/^ *```sh$/ { n = 0; f = 1; b = ""; next }
             f && /^ *```$/ { if (b ~ /pkcs11-tool/) { printf "%s", b; exit } f = 0; next }
             f { sub(/^   /, ""); b = b $0 "\n" }' "$readme")
for text in "pkcs11=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so" "-ts http://timestamp.example.com" \
            "osslsigncode sign"; do
  grep -qF -- "$text" <<<"$block" || fail "the PKCS#11 block of the docs has no '$text'"
done
block=$(sed -e "s|^pkcs11=/usr/lib/x86_64-linux-gnu/opensc-pkcs11.so\$|pkcs11=$softhsm|" \
  -e "s| -ts http://timestamp.example.com||" <<<"$block")
# The CA certifies the request between the token's lines and the signature.
certify='openssl x509 -req -in release.csr -CA ca.pem -CAkey ca.key -days 2 -extfile usage.cnf \
  -out release-cert.pem 2>/dev/null'
script="${block%%osslsigncode sign*}$certify
osslsigncode sign${block#*osslsigncode sign}"

pin=314159
export SOFTHSM2_CONF=$work/softhsm2.conf
printf 'directories.tokendir = %s\nobjectstore.backend = file\nlog.level = ERROR\n' "$work/tokens" \
  >"$SOFTHSM2_CONF"
softhsm2-util --init-token --free --label release --so-pin 27182818 --pin $pin >/dev/null
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Test CA" \
  >/dev/null 2>&1
printf 'basicConstraints=CA:FALSE\nkeyUsage=digitalSignature\nextendedKeyUsage=codeSigning\n' >usage.cnf
cp "$pe" out/mir_setup_launcher.exe
bash -euo pipefail -c "$script" <<<"$pin" >signing.log 2>&1 || { cat signing.log; fail "the documented lines"; }
pkcs11-tool --module $softhsm --pin $pin --list-objects --type privkey 2>/dev/null |
  grep -q 'never extractable' || fail "the key can leave the token"

"$tool" reserve out/signed.exe out/base.exe >/dev/null
"$tool" stamp --value="src=token" out/base.exe out/stamped.exe >/dev/null
# Each file verifies with the token's certificate; the
# reserved and stamped ones warn of their checksum, as the docs say.
while read -r file value checksum_warning; do
  verify=0
  osslsigncode verify -CAfile ca.pem "out/$file" >$file.verify 2>&1 || verify=$?
  [ $verify = 0 ] && grep -q 'Signature verification: ok' $file.verify || fail "$file does not verify"
  grep -q 'Subject: /CN=Mirelo Release Signing/O=Mirelo' $file.verify || fail "$file: another signer"
  warned=no
  grep -qE 'MISMATCH|invalid PE checksum' $file.verify && warned=yes
  [ $warned = "$checksum_warning" ] || fail "$file: checksum warning $warned"
  [ "$("$tool" read "out/$file" 2>/dev/null || echo -)" = "$value" ] || fail "$file: value"
done <<'ROWS'
signed.exe - no
base.exe - yes
stamped.exe src=token yes
ROWS
echo "signed in a SoftHSM2 token as the docs say; reserved, stamped and verified"
