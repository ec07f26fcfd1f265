# The administrators' package, shv-windows-x64.msi: its tables; under Wine, a
# failed registration failing the installation with the module's HRESULT in
# the installer's log and leaving nothing; an older package replaced by this
# one; the same version refused; the installed modules registered with
# exactly the keys regsvr32 writes and the NAP record, and validating;
# uninstalling leaving no file, key or record but the settings. Last,
# signing with a throw-away certificate.
source "$(dirname "$0")/common.bash"
msi=$dir/shv-windows-x64.msi
[[ -f $msi ]] || { fail "shv-windows-x64.msi was not built"; finish; }
version=$(python3 "$root/installer/file_version.py" healthval.dll)
settings='HKLM\SOFTWARE\VexorLabs\REDIVEVE\Settings'

echo "the package's tables"
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4 | LC_ALL=C sort; }
property() { table "$1" Property | awk -F '\t' -v name="$2" '$1 == name {print $2}'; }
expect_eq "product version = the modules' file version" "$(property "$msi" ProductVersion)" "$version"
expect_eq "upgrade code" "$(property "$msi" UpgradeCode)" "{B2ADB512-BF9E-4BF1-93F2-F6114B29B9B9}"
expect_eq "components: 64-bit, in the install folder" "$(table "$msi" Component | cut -f 1,3,4,6)" \
"guide	INSTALLDIR	256	README_Windows.txt
healthcfg	INSTALLDIR	256	healthcfg.dll
healthval	INSTALLDIR	256	healthval.dll"
expect_eq "files, the modules versioned" "$(table "$msi" File | cut -f 1-3,5,6)" \
"README_Windows.txt	guide	README-Windows.txt		
healthcfg.dll	healthcfg	healthcfg.dll	$version	1033
healthval.dll	healthval	healthval.dll	$version	1033"
expect_eq "hashes for the unversioned file only" "$(table "$msi" MsiFileHash | cut -f 1)" README_Windows.txt
expect_eq "install folder" "$(table "$msi" Directory | tr '\t' ' ')" \
"INSTALLDIR VexorFolder SHV
ProgramFiles64Folder TARGETDIR .
TARGETDIR  SourceDir
VexorFolder ProgramFiles64Folder Vexor"
# 3073: deferred, no impersonation; 3393: the same for rollback, result
# ignored (wixl cannot say rollback; scripts/package-windows sets it).
expect_eq "registration actions" "$(table "$msi" CustomAction | awk -F '\t' '$2 != 51 {print $1, $2, $4}')" \
"register_validator 3073 register_validator
register_validator_rollback 3393 unregister_validator
unregister_validator 3073 unregister_validator
unregister_validator_rollback 3393 register_validator"

# Products installed under this package's name: "{product code} version".
products() {
  reg_listing 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' |
    awk -F ' [|] ' '$2 == "\"DisplayName\"=\"Vexor System Health Validator\"" {print $1}' |
    while read -r key; do
      code=${key##*\\}
      code=${code%]}
      echo "$code $(w reg query "${key:1:-1}" /v DisplayVersion 2>/dev/null | tr -d '\r' | awk '/DisplayVersion/ {print $3}')"
    done
}
# msiexec_logged NAME ARGS...: wine msiexec ARGS /qn with a verbose log in
# $scratch/NAME.log; sets rc.
msiexec_logged() {
  local name=$1
  shift
  rc=0
  w msiexec "$@" /qn /l*v "$(winepath -w "$scratch/$name.log")" >/dev/null 2>&1 || rc=$?
}
installed=$WINEPREFIX/drive_c/Program\ Files/Vexor/SHV
# What changed below HKEY_CLASSES_ROOT since the snapshot, but for Windows
# Installer's own records of its products (HKCR\Installer).
module_changes() { reg_changes hkcr HKCR | grep -v '^. \[HKEY_CLASSES_ROOT\\Installer[]\\]' || true; }
nothing_left() {
  expect_eq "$1: no file" "$(find "$installed" -type f 2>/dev/null)" ""
  expect_eq "$1: no key of either module" "$(module_changes)" ""
  expect_eq "$1: no NAP record" "$(w reg query "$nap_record" >/dev/null 2>&1; echo $?)" 1
  expect_eq "$1: no product" "$(products)" ""
}

# A clean start, and QUtil.dll where Windows has it: the installer loads the
# validator from the install folder, not from the build folder.
qutil=$WINEPREFIX/drive_c/windows/system32/QUtil.dll
cleanup() {
  stop_sims
  w regsvr32 /s /u napsdk.dll >/dev/null 2>&1 || true
  rm -f "$qutil"
}
trap cleanup EXIT
for code in $(products | cut -d ' ' -f 1); do w msiexec /x "$code" /qn >/dev/null 2>&1 || true; done
w regsvr32 /s /u napsdk.dll >/dev/null 2>&1 || true
forget_nap_record
forget_keys healthval healthcfg
cp QUtil.dll "$qutil"
reg_snapshot hkcr HKCR

echo "a failed registration (no NAP server management class)"
msiexec_logged failed /i "$(winepath -w "$msi")"
[[ $rc != 0 ]] && pass "msiexec /i fails ($rc)" || fail "msiexec /i succeeded without the NAP server"
grep -qF "Vexor SHV: DllRegisterServer of C:\\Program Files\\Vexor\\SHV\\healthval.dll failed with 0x80040154" "$scratch/failed.log" &&
  pass "the installer's log has the module's HRESULT" || fail "no HRESULT in $scratch/failed.log"
nothing_left "rolled back"

echo "an older package, then this one"
expect_eq "napsdk.dll registers" "$(w regsvr32 /s napsdk.dll >/dev/null 2>&1; echo $?)" 0
reg_snapshot hkcr HKCR
# The older build: the same modules with an older file version.
older=$scratch/older-build
mkdir -p "$older"
cp healthval.dll healthcfg.dll shvsetup.dll "$older/"
python3 - "$older/healthval.dll" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(struct.pack("<I", 0xFEEF04BD))
struct.pack_into("<IIII", data, at + 8, 0x00000009, 0, 0x00000009, 0)  # 0.9.0.0
open(sys.argv[1], "wb").write(data)
EOF
"$root/scripts/package-windows" "$older" "$scratch/older" >/dev/null
msiexec_logged older /i "$(winepath -w "$scratch/older/shv-windows-x64.msi")"
expect_eq "the older package installs" "$rc" 0
expect_eq "its module" "$(python3 "$root/installer/file_version.py" "$installed/healthval.dll")" "0.9.0.0"
msiexec_logged upgrade /i "$(winepath -w "$msi")"
expect_eq "this package installs over it" "$rc" 0
expect_eq "one product, this version" "$(products | cut -d ' ' -f 2)" "$version"
for f in healthval.dll healthcfg.dll README-Windows.txt; do
  cmp -s "$installed/$f" "package/shv-windows-x64/$f" && pass "$f replaced" || fail "$f is not this package's"
done
expect_eq "the keys regsvr32 writes, for the installed modules" "$(module_changes)" \
  "$( (expected_changes "$here/expected/healthval.reg.txt" "$installed/healthval.dll"
      expected_changes "$here/expected/healthcfg.reg.txt" "$installed/healthcfg.dll") | LC_ALL=C sort | sed 's/^/+ /')"
w reg query "$nap_record" /v FriendlyName 2>/dev/null | grep -qF 'Vexor System Health Validator' &&
  pass "the NAP record" || fail "no NAP record"

echo "validation through the installed module"
start_sim installed
w reg add "$settings" /v ServerName /t REG_SZ /d 127.0.0.1 /f >/dev/null 2>&1
w reg add "$settings" /v ServerPort /t REG_DWORD /d "$port" /f >/dev/null 2>&1
w reg add "$settings" /v ValidationEnabled /t REG_DWORD /d 1 /f >/dev/null 2>&1
w naphost.exe validate --record "1 healthy-pc 9f86d081" --timeout-ms 20000 >"$scratch/validate.jsonl" 2>&1 || true
expect_eq "compliant, from the central server" "$(grep -c '"compliance":"00000000"' "$scratch/validate.jsonl")/$(grep -c healthy-pc "$scratch/installed.jsonl")" 1/1
stop_sims

echo "the same version again"
"$root/scripts/package-windows" . "$scratch/same" >/dev/null
msiexec_logged same /i "$(winepath -w "$scratch/same/shv-windows-x64.msi")"
[[ $rc != 0 ]] && pass "refused ($rc)" || fail "the same version installed twice"
# The launch condition fails on the installed product's code (Windows also
# logs the condition's message; Wine does not).
grep -qF "SHV_SAME_OR_NEWER_INSTALLED = $(products | cut -d ' ' -f 1)" "$scratch/same.log" &&
  grep -qE 'LaunchConditions\. Return value [^1]' "$scratch/same.log" && pass "by the launch condition" ||
  fail "not by the launch condition: $scratch/same.log"
expect_eq "still one product" "$(products | cut -d ' ' -f 2)" "$version"

echo "uninstall"
msiexec_logged uninstall /x "$(winepath -w "$msi")"
expect_eq "msiexec /x" "$rc" 0
nothing_left "uninstalled"
[[ ! -e $installed ]] && pass "no install folder" || fail "the install folder stays"
expect_eq "the settings stay" "$(w reg query "$settings" /v ServerName 2>/dev/null | tr -d '\r' | awk '/ServerName/ {print $3}')" \
  127.0.0.1
w reg delete "$settings" /f >/dev/null 2>&1 || true

echo "signing with a throw-away certificate"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=SHV test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$scratch/key.pem" -out "$scratch/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$scratch/key.pem" -in "$scratch/cert.pem" -out "$scratch/test.pfx" \
  -passout pass:throw-away
SHV_SIGN_PASSWORD=throw-away "$root/scripts/package-windows" --sign "$scratch/test.pfx" . "$scratch/signed" >/dev/null
for f in package/shv-windows-x64/healthval.dll package/shv-windows-x64/healthcfg.dll package/actions/shvsetup.dll \
         shv-windows-x64.msi; do
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/signed/$f" >"$scratch/verify.txt" 2>&1 &&
    pass "signed: $f" || fail "$f: $(tail -n 3 "$scratch/verify.txt")"
done
osslsigncode verify -in "$msi" >/dev/null 2>&1 && fail "the unsigned build's package carries a signature" ||
  pass "without --sign nothing is signed"
finish
