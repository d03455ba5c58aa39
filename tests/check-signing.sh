#!/usr/bin/env bash
# check-signing.sh SOURCE_DIR BUILD_DIR NAME: the signed release. Makes a
# throwaway CA and certificates with openssl in BUILD_DIR/tests/signing
# (never in the sources), packs with CPack signing with the code-signing
# one, and checks that the packed program verifies against that CA, carries
# the unsigned build's Authenticode digest, fails verification with one byte
# changed, and still runs a case of the suite under Wine (WINEPREFIX). Then
# packs with each kind of bad input and checks that each fails with its
# message and leaves no zip.
set -euo pipefail
source_dir=$1 build=$2 name=$3
work=$build/tests/signing
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# --- A CA, and certificates it issued --------------------------------------
quiet() { "$@" >/dev/null 2>&1 || { echo "failed: $*" >&2; "$@"; exit 1; }; }
quiet openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -out ca.pem -days 2 -subj "/CN=Throwaway Test CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
printf 'test password\n' >password
printf 'not the password\n' >wrong-password
# certificate NAME DAYS EXTENDED_KEY_USAGE: NAME.pfx, issued by the CA.
certificate() {
    quiet openssl req -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.csr" -subj "/CN=Throwaway $1"
    printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=%s\n' "$3" >"$1.ext"
    quiet openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days "$2" -extfile "$1.ext" \
        -out "$1.pem"
    quiet openssl pkcs12 -export -inkey "$1.key" -in "$1.pem" -certfile ca.pem -passout file:password -out "$1.pfx"
}
certificate signer 2 codeSigning
certificate server 2 serverAuth
certificate expired -1 codeSigning
printf 'this is no PKCS#12 file\n' >garbage.pfx

# pack OUT [VAR=VALUE...]: CPack into OUT with the signing environment given.
pack() {
    local out=$1
    shift
    env -u UNINSTALL_RUNNER_SIGN_PFX -u UNINSTALL_RUNNER_SIGN_PASSWORD_FILE -u UNINSTALL_RUNNER_SIGN_TIMESTAMP_URL \
        "$@" cpack --config "$build/CPackConfig.cmake" -B "$work/$out" 2>&1
}

fail=0
check() { if ! eval "$2"; then echo "FAILED: $1" >&2; fail=1; else echo "ok: $1"; fi; }

# --- Signed with the code-signing certificate ------------------------------
output=$(pack signed UNINSTALL_RUNNER_SIGN_PFX="$work/signer.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/password")
check "packing signed says so" '[[ $output == *"uninstall-runner.exe: signed by subject=CN = Throwaway signer"* ]]'
mkdir unpacked
(cd unpacked && cmake -E tar xf "$work/signed/$name.zip")
exe=$work/unpacked/$name/uninstall-runner.exe
check "the checksums are those of the signed program" \
    '(cd signed && sha256sum --check --quiet "$name.zip.sha256") && (cd "unpacked/$name" && sha256sum --check --quiet uninstall-runner.exe.sha256)'

verify=$(osslsigncode verify -CAfile ca.pem -in "$exe" 2>&1) || true
check "the packed program verifies against the CA" '[[ $verify == *"Signature verification: ok"* ]]'
echo "$verify" | grep -E "Current message digest|Signature verification|Subject: /CN=Throwaway signer" || true
signed_digest=$(python3 "$source_dir/tools/authenticode-digest.py" "$exe" | cut -d' ' -f1)
unsigned_digest=$(python3 "$source_dir/tools/authenticode-digest.py" "$build/bin/uninstall-runner.exe" | cut -d' ' -f1)
in_signature=$(sed -n 's/^Current message digest *: *\([0-9A-F]*\).*/\1/p' <<<"$verify" | tr 'A-F' 'a-f')
check "its Authenticode digest is the unsigned build's ($unsigned_digest)" \
    '[ "$signed_digest" = "$unsigned_digest" ] && [ "$in_signature" = "$unsigned_digest" ]'
check "the signed program differs from the unsigned one" '! cmp -s "$exe" "$build/bin/uninstall-runner.exe"'

cp "$exe" tampered.exe
printf '\x90' | dd of=tampered.exe bs=1 seek=4096 conv=notrunc status=none
cmp -s "$exe" tampered.exe && printf '\xcc' | dd of=tampered.exe bs=1 seek=4096 conv=notrunc status=none
check "one byte changed fails verification" '! osslsigncode verify -CAfile ca.pem -in tampered.exe >/dev/null 2>&1'

# A case of the suite, run with the signed program in the build's place.
mkdir run
cp "$exe" "$build/bin/runner_tests.exe" "$build/bin/runner_fixture.exe" run/
case_output=$(cd run && wine runner_tests.exe --gtest_filter=Scripts/Output.LogHoldsStartOfOutput/ShortLine_Reader \
    </dev/null 2>&1 | tr -d '\r') || true
check "the signed program runs a case under Wine" '[[ $case_output == *"[  PASSED  ] 1 test."* ]]'

# --- Bad input: one message each, and no zip --------------------------------
signer=(UNINSTALL_RUNNER_SIGN_PFX="$work/signer.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/password")
bad() {
    local label=$1 expected=$2
    shift 2
    local out=bad-${label// /-}
    local result status=0
    result=$(pack "$out" "$@") || status=$?
    local message
    message=$(grep -o 'cannot sign uninstall-runner.exe: .*' <<<"$result" | head -n 1) || true
    echo "$label: $message"
    check "$label: packing fails" '[ $status -ne 0 ]'
    check "$label: says '$expected'" '[[ $message == *"$expected"* ]]'
    check "$label: leaves no zip" '[ -z "$(find "$work/$out" -name "*.zip" 2>/dev/null)" ]'
}
bad "missing certificate" "$work/none.pfx does not exist or is not a file" \
    UNINSTALL_RUNNER_SIGN_PFX="$work/none.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/password"
bad "missing password file" "$work/none.txt does not exist or is not a file" \
    UNINSTALL_RUNNER_SIGN_PFX="$work/signer.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/none.txt"
bad "no password file named" "UNINSTALL_RUNNER_SIGN_PASSWORD_FILE is not set" UNINSTALL_RUNNER_SIGN_PFX="$work/signer.pfx"
bad "not a PKCS#12 file" "garbage.pfx cannot be opened with the password" \
    UNINSTALL_RUNNER_SIGN_PFX="$work/garbage.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/password"
bad "wrong password" "signer.pfx cannot be opened with the password in $work/wrong-password" \
    UNINSTALL_RUNNER_SIGN_PFX="$work/signer.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/wrong-password"
bad "no code-signing usage" "is not for code signing" \
    UNINSTALL_RUNNER_SIGN_PFX="$work/server.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/password"
bad "expired" "has expired (notAfter=" \
    UNINSTALL_RUNNER_SIGN_PFX="$work/expired.pfx" UNINSTALL_RUNNER_SIGN_PASSWORD_FILE="$work/password"
bad "time-stamp server not answering" "the time-stamp server http://127.0.0.1:9/ did not answer" \
    "${signer[@]}" UNINSTALL_RUNNER_SIGN_TIMESTAMP_URL=http://127.0.0.1:9/

exit $fail
