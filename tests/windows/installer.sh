# The administrators' package, shv-windows-x64.msi: its tables and the versions
# it refuses to carry; under Wine, what an administrator meets: a failed
# registration leaving nothing; a validator registered by hand refused before
# anything changes; an older package replaced; the same version refused; a
# failed upgrade; a NAP record or COM class left by a module that is gone
# taken over; a repair registering again; a removal going on past a module
# that cannot be loaded, and stopping at any other failure unless told to go
# on; the installed modules registered with exactly the keys regsvr32 writes
# and validating; removal leaving nothing but the settings. Last, signing
# with a throw-away certificate and time stamps from a throw-away server.
source "$(dirname "$0")/common.bash"
msi=$dir/shv-windows-x64.msi
[[ -f $msi ]] || { fail "shv-windows-x64.msi was not built"; finish; }
version=$(project_version)
settings='HKLM\SOFTWARE\VexorLabs\REDIVEVE\Settings'
# Wine's exit status keeps the low byte of msiexec's: 1603 (the installation
# failed) arrives as 67.
install_failed=67

echo "the package's tables"
table() { msiinfo export "$1" "$2" | tr -d '\r' | tail -n +4 | LC_ALL=C sort; }
property() { table "$1" Property | awk -F '\t' -v name="$2" '$1 == name {print $2}'; }
expect_eq "product version = the project's version" "$(property "$msi" ProductVersion)" "$version"
expect_eq "upgrade code" "$(property "$msi" UpgradeCode)" "{B2ADB512-BF9E-4BF1-93F2-F6114B29B9B9}"
expect_eq "per machine" "$(property "$msi" ALLUSERS)" 1
expect_eq "the removal's switch reaches the service" "$(property "$msi" SecureCustomProperties)" \
  "SHV_OLDER_INSTALLED;SHV_SAME_OR_NEWER_INSTALLED;SHV_IGNORE_UNREGISTER_FAILURE"
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
# 1: immediate; 3073: deferred, no impersonation; 3393: the same for
# rollback, result ignored (wixl cannot say rollback; scripts/package-windows
# sets it).
expect_eq "registration actions" "$(table "$msi" CustomAction | awk -F '\t' '$2 != 51 {print $1, $2, $4}')" \
"check_validator 1 check_validator
register_validator 3073 register_validator
unregister_validator 3073 unregister_validator
unregister_validator_rollback 3393 register_validator"
expect_eq "their data" "$(table "$msi" CustomAction | awk -F '\t' '$2 == 51 {print $1, $3, $4}')" \
'data_check check_validator [INSTALLDIR]healthval.dll|CLSID\{60d48d71-1c65-4775-a2c2-2e331632914d}\InprocServer32|{E5F3A8BF-C3BC-43D6-916A-B15796F0094F}
data_unregister unregister_validator [INSTALLDIR]healthval.dll|[SHV_IGNORE_UNREGISTER_FAILURE]
data_unregister_rollback unregister_validator_rollback keep|[INSTALLDIR]healthval.dll'
# The check before the script starts; an older version's removal inside this
# installation's transaction (right after InstallInitialize), so that a
# failure rolls it back with its own rollback action registering it again;
# the withdrawal while the module and its keys are there, its rollback ahead
# of it; the registration as the script's last operation.
expect_eq "the execution sequence" \
  "$(msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' | tail -n +4 | sort -t $'\t' -k 3n | tr '\t' ' ')" \
"FindRelatedProducts  25
LaunchConditions  100
ValidateProductID  700
CostInitialize  800
FileCost  900
CostFinalize  1000
data_check \$healthval=3 1001
data_unregister \$healthval=2 1003
data_unregister_rollback \$healthval=2 1004
check_validator \$healthval=3 1010
MigrateFeatureStates  1200
InstallValidate  1400
InstallInitialize  1500
RemoveExistingProducts  1501
ProcessComponents  1600
unregister_validator_rollback \$healthval=2 1700
unregister_validator \$healthval=2 1701
UnpublishFeatures  1800
RemoveRegistryValues  2600
RemoveFiles  3500
InstallFiles  4000
WriteRegistryValues  5000
RegisterUser  6000
RegisterProduct  6100
PublishFeatures  6300
PublishProduct  6400
register_validator \$healthval=3 6500
InstallFinalize  6600"
# Older versions are found to be removed (256: minimum included), the same
# or a newer one only to be detected (258: also only detected).
expect_eq "upgrades" "$(table "$msi" Upgrade)" \
"{B2ADB512-BF9E-4BF1-93F2-F6114B29B9B9}	0.0.0	$version		256		SHV_OLDER_INSTALLED
{B2ADB512-BF9E-4BF1-93F2-F6114B29B9B9}	$version			258		SHV_SAME_OR_NEWER_INSTALLED"
expect_eq "launch condition" "$(table "$msi" LaunchCondition)" \
"Installed OR NOT SHV_SAME_OR_NEWER_INSTALLED	This version of the Vexor System Health Validator, or a newer one, is already installed."

echo "versions Windows Installer cannot take"
for bad in 0.0.0.0 256.0.0 1.256.0 1.0.65536 1.0.0.65536 1.0 1.x.0; do
  rc=0
  "$root/scripts/package-windows" --version "$bad" . "$scratch/bad-version" >/dev/null 2>"$scratch/bad-version.err" || rc=$?
  [[ $rc != 0 ]] && grep -qF "version $bad cannot be a package's" "$scratch/bad-version.err" &&
    pass "$bad refused" || fail "$bad: exit $rc, $(cat "$scratch/bad-version.err")"
done
[[ ! -e $scratch/bad-version/shv-windows-x64.msi ]] && pass "and no package made" || fail "a package with a bad version"

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
# expect_log NAME TEXT: the log of msiexec_logged NAME holds TEXT.
expect_log() {
  if grep -qF -- "$2" "$scratch/$1.log"; then pass "$1.log: $2"; else fail "$1.log lacks: $2"; fi
}
installed=$WINEPREFIX/drive_c/Program\ Files/Vexor/SHV
event_source='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vexor System Health Validator'
installed_module='C:\Program Files\Vexor\SHV\healthval.dll'
# What changed below HKEY_CLASSES_ROOT since the snapshot, but for Windows
# Installer's own records of its products (HKCR\Installer) and the NAP SDK
# stand-in's class, which one check damages on purpose.
module_changes() {
  reg_changes hkcr HKCR | grep -v -e '^. \[HKEY_CLASSES_ROOT\\Installer[]\\]' -e '{BFCB2C6D-04AA-4FB9-BC72-58E1AF64BE39}' || true
}
expect_installed_keys() {
  expect_eq "$1: the keys regsvr32 writes, for the installed modules" "$(module_changes)" \
    "$( (expected_changes "$here/expected/healthval.reg.txt" "$installed/healthval.dll"
        expected_changes "$here/expected/healthcfg.reg.txt" "$installed/healthcfg.dll") | LC_ALL=C sort | sed 's/^/+ /')"
  local values
  values=$(w reg query "$event_source" 2>/dev/null | tr -d '\r' | sed 's/^ *//; s/  */ /g')
  grep -qixF "EventMessageFile REG_EXPAND_SZ $(winepath -w "$installed/healthval.dll")" <<<"$values" &&
    grep -qxF "TypesSupported REG_DWORD 0x7" <<<"$values" && pass "$1: the event source names the installed module" ||
    fail "$1: event source: $values"
}
record() { reg_listing "$nap_record"; }
has_record() { w reg query "$nap_record" /v FriendlyName 2>/dev/null | grep -qF 'Vexor System Health Validator'; }
expect_record() { has_record && pass "$1: the NAP record" || fail "$1: no NAP record"; }
# The NAP server's way to the validator: its class, its module, its object.
expect_validator_loads() {
  grep -q "^friendly name  Vexor System Health Validator" <<<"$(w naphost.exe info --locale 0x0409 | tr -d '\r')" &&
    pass "$1: the validator loads" || fail "$1: the validator does not load"
}
nothing_left() {
  expect_eq "$1: no file" "$(find "$installed" -type f 2>/dev/null)" ""
  expect_eq "$1: no key of either module" "$(module_changes)" ""
  expect_eq "$1: no NAP record" "$(w reg query "$nap_record" >/dev/null 2>&1; echo $?)" 1
  expect_eq "$1: no event source" "$(w reg query "$event_source" >/dev/null 2>&1; echo $?)" 1
  expect_eq "$1: no product" "$(products)" ""
}
# package_of BUILD OUT [--version V]: a package of the modules in BUILD.
package_of() {
  local build=$1 out=$2
  shift 2
  "$root/scripts/package-windows" "$@" "$build" "$out" >/dev/null
}
# A copy of this build's modules in a folder of its own.
copy_build() {
  mkdir -p "$1"
  cp healthval.dll healthcfg.dll shvsetup.dll "$1/"
}

# A clean start, and QUtil.dll where Windows has it: the installer loads the
# validator from the install folder, not from the build folder.
qutil=$WINEPREFIX/drive_c/windows/system32/QUtil.dll
napsdk_class='HKCR\CLSID\{BFCB2C6D-04AA-4FB9-BC72-58E1AF64BE39}\InprocServer32'
cleanup() {
  stop_sims
  [[ -z ${tsa_pid:-} ]] || { kill "$tsa_pid" 2>/dev/null || true; wait "$tsa_pid" 2>/dev/null || true; }
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
expect_eq "msiexec /i fails" "$rc" "$install_failed"
expect_log failed "Vexor SHV: DllRegisterServer of $installed_module failed with 0x80040154"
nothing_left "rolled back"

expect_eq "napsdk.dll registers" "$(w regsvr32 /s napsdk.dll >/dev/null 2>&1; echo $?)" 0
reg_snapshot hkcr HKCR

echo "the validator registered by hand from the zip, then the package"
by_hand=$scratch/by-hand
mkdir -p "$by_hand"
cp package/shv-windows-x64/healthval.dll package/shv-windows-x64/healthcfg.dll "$by_hand/"
hand_module=$(winepath -w "$by_hand/healthval.dll")
for module in healthcfg healthval; do
  expect_eq "regsvr32 $module.dll" "$(w regsvr32 /s "$(winepath -w "$by_hand/$module.dll")" >/dev/null 2>&1; echo $?)" 0
done
reg_snapshot by-hand HKCR
record_before=$(record)
msiexec_logged by-hand /i "$(winepath -w "$msi")"
expect_eq "refused" "$rc" "$install_failed"
expect_log by-hand "Vexor SHV: the validator is already registered from $hand_module, which this package did not install. Unregister that copy first (regsvr32 /u \"$hand_module\"), then install the package again."
grep -q 'Action start [0-9:]*: InstallInitialize\.' "$scratch/by-hand.log" &&
  fail "the installation script started: $scratch/by-hand.log" || pass "before the installation script started"
expect_eq "nothing below HKEY_CLASSES_ROOT changed" \
  "$(reg_changes by-hand HKCR | grep -v '^. \[HKEY_CLASSES_ROOT\\Installer[]\\]' || true)" ""
expect_eq "the NAP record as it was" "$(record)" "$record_before"
expect_eq "no product" "$(products)" ""
expect_validator_loads "the copy registered by hand"
for module in healthval healthcfg; do
  expect_eq "regsvr32 /u $module.dll" "$(w regsvr32 /s /u "$(winepath -w "$by_hand/$module.dll")" >/dev/null 2>&1; echo $?)" 0
done
nothing_left "unregistered by hand"

echo "an older package, then this one"
older=$scratch/older-build
copy_build "$older"
# The older build: the same modules with an older file version.
python3 - "$older/healthval.dll" <<'EOF'
import struct, sys
data = bytearray(open(sys.argv[1], "rb").read())
at = data.find(struct.pack("<I", 0xFEEF04BD))
struct.pack_into("<IIII", data, at + 8, 0x00000009, 0, 0x00000009, 0)  # 0.9.0.0
open(sys.argv[1], "wb").write(data)
EOF
package_of "$older" "$scratch/older"
older_msi=$(winepath -w "$scratch/older/shv-windows-x64.msi")
msiexec_logged older /i "$older_msi"
expect_eq "the older package installs" "$rc" 0
expect_eq "its module" "$(python3 "$root/installer/file_version.py" "$installed/healthval.dll")" "0.9.0.0"
msiexec_logged upgrade /i "$(winepath -w "$msi")"
expect_eq "this package installs over it" "$rc" 0
expect_eq "one product, this version" "$(products | cut -d ' ' -f 2)" "$version"
for f in healthval.dll healthcfg.dll README-Windows.txt; do
  cmp -s "$installed/$f" "package/shv-windows-x64/$f" && pass "$f replaced" || fail "$f is not this package's"
done
expect_installed_keys "upgraded"
expect_record "upgraded"

echo "validation through the installed module"
start_sim installed
w reg add "$settings" /v ServerName /t REG_SZ /d 127.0.0.1 /f >/dev/null 2>&1
w reg add "$settings" /v ServerPort /t REG_DWORD /d "$port" /f >/dev/null 2>&1
w reg add "$settings" /v ValidationEnabled /t REG_DWORD /d 1 /f >/dev/null 2>&1
w naphost.exe validate --record "1 healthy-pc 9f86d081" --timeout-ms 20000 >"$scratch/validate.jsonl" 2>&1 || true
expect_eq "compliant, from the central server" "$(grep -c '"compliance":"00000000"' "$scratch/validate.jsonl")/$(grep -c healthy-pc "$scratch/installed.jsonl")" 1/1
stop_sims

echo "the same version again"
package_of . "$scratch/same"
msiexec_logged same /i "$(winepath -w "$scratch/same/shv-windows-x64.msi")"
expect_eq "refused" "$rc" "$install_failed"
# The launch condition fails on the installed product's code (Windows also
# logs the condition's message; Wine does not).
grep -qF "SHV_SAME_OR_NEWER_INSTALLED = $(products | cut -d ' ' -f 1)" "$scratch/same.log" &&
  grep -qE 'LaunchConditions\. Return value [^1]' "$scratch/same.log" && pass "by the launch condition" ||
  fail "not by the launch condition: $scratch/same.log"
expect_eq "still one product" "$(products | cut -d ' ' -f 2)" "$version"

# Windows' repair (msiexec /f, Programs and Features) sets REINSTALL; Wine's
# msiexec /f does not take a package, so the repair is asked for by its
# properties.
echo "a repair after the NAP record was lost"
forget_nap_record
msiexec_logged repair /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=omus
expect_eq "the repair" "$rc" 0
expect_log repair "Vexor SHV: DllRegisterServer of $installed_module succeeded"
expect_record "repaired"
msiexec_logged repair-again /i "$(winepath -w "$msi")" REINSTALL=ALL REINSTALLMODE=omus
expect_eq "a repair of a registered validator" "$rc" 0
expect_log repair-again "Vexor SHV: DllRegisterServer of $installed_module returned 0x80270003: the NAP server already knows the validator, which stays registered as it is"
expect_record "repaired again"
expect_installed_keys "repaired"

echo "a removal that cannot withdraw the validator"
# The NAP server's management class names a module that cannot be loaded:
# the validator's DllUnregisterServer fails with the loader's error.
head -c 4096 /dev/urandom >"$scratch/damaged-napsdk.dll"
w reg add "$napsdk_class" /ve /d "$(winepath -w "$scratch/damaged-napsdk.dll")" /f >/dev/null 2>&1
product=$(products | cut -d ' ' -f 1)
msiexec_logged stuck /x "$(winepath -w "$msi")"
expect_eq "the removal stops" "$rc" "$install_failed"
expect_log stuck "; the removal stops. To remove the package all the same: msiexec /x $product SHV_IGNORE_UNREGISTER_FAILURE=1"
# Windows keeps the product installed as well; Wine's rollback of a removal
# forgets the product's registration, though its files and keys stay.
[[ -f $installed/healthval.dll ]] && pass "its module stays" || fail "the module is gone"
expect_installed_keys "the removal stopped"
expect_record "the removal stopped"
msiexec_logged ignored /x "$(winepath -w "$msi")" SHV_IGNORE_UNREGISTER_FAILURE=1
expect_eq "with SHV_IGNORE_UNREGISTER_FAILURE=1 it goes on" "$rc" 0
expect_log ignored "SHV_IGNORE_UNREGISTER_FAILURE=1, so the removal goes on and the NAP server's record of the validator may remain"
expect_eq "no product" "$(products)" ""
expect_eq "no file" "$(find "$installed" -type f 2>/dev/null)" ""
expect_record "left by the removal"
expect_eq "napsdk.dll registers again" "$(w regsvr32 /s napsdk.dll >/dev/null 2>&1; echo $?)" 0

# What a failed upgrade of the earlier package left: the NAP record, without
# the COM class or any module.
echo "a NAP record without its COM class, then the package"
msiexec_logged leftover /i "$(winepath -w "$msi")"
expect_eq "installs" "$rc" 0
expect_log leftover "Vexor SHV: the validator's COM class is not registered; a NAP record left of it is taken over"
expect_log leftover "Vexor SHV: took over the NAP server's record of the validator: DllRegisterServer of $installed_module succeeded"
expect_record "taken over"
expect_installed_keys "taken over"
expect_validator_loads "taken over"

echo "a removal whose module is missing"
rm "$installed/healthval.dll"
msiexec_logged missing /x "$(winepath -w "$msi")"
expect_eq "the removal goes on" "$rc" 0
expect_log missing "Vexor SHV: $installed_module cannot be loaded (0x8007007E); the NAP server's record of the validator may remain, and the next installation of the package takes it over"
expect_eq "no product" "$(products)" ""
expect_eq "no key of either module" "$(module_changes)" ""
expect_record "left by the removal"

echo "a COM class naming a deleted folder's module, then the package"
deleted=$scratch/deleted
mkdir -p "$deleted"
cp package/shv-windows-x64/healthval.dll "$deleted/"
# Its DllRegisterServer writes the COM keys, then finds the NAP record there.
w regsvr32 /s "$(winepath -w "$deleted/healthval.dll")" >/dev/null 2>&1 || true
deleted_module=$(winepath -w "$deleted/healthval.dll")
rm -r "$deleted"
msiexec_logged deleted /i "$(winepath -w "$msi")"
expect_eq "installs" "$rc" 0
expect_log deleted "Vexor SHV: the validator's COM class names $deleted_module, which does not exist; its NAP record is taken over"
expect_log deleted "Vexor SHV: took over the NAP server's record of the validator: DllRegisterServer of $installed_module succeeded"
expect_installed_keys "taken over"
expect_validator_loads "taken over"

echo "a removal whose module cannot be loaded"
head -c 4096 /dev/urandom >"$installed/healthval.dll"
msiexec_logged damaged /x "$(winepath -w "$msi")"
expect_eq "the removal goes on" "$rc" 0
expect_log damaged "Vexor SHV: $installed_module cannot be loaded (0x800700C1)"
expect_eq "no product" "$(products)" ""
forget_nap_record

echo "an older package, then a newer one whose registration fails"
msiexec_logged older-again /i "$older_msi"
expect_eq "the older package installs" "$rc" 0
failing=$scratch/failing-build
copy_build "$failing"
# The newer build's validator lacks DllRegisterServer.
python3 - "$failing/healthval.dll" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
names = b"DllGetClassObject\0DllRegisterServer\0"
at = data.find(names)
data[at:at + len(names)] = b"DllGetClassObject\0DllRegisterServex\0"
open(sys.argv[1], "wb").write(data)
EOF
package_of "$failing" "$scratch/failing"
msiexec_logged failed-upgrade /i "$(winepath -w "$scratch/failing/shv-windows-x64.msi")"
expect_eq "the upgrade fails" "$rc" "$install_failed"
expect_log failed-upgrade "Vexor SHV: DllRegisterServer of $installed_module failed with 0x8007007F"
grep -o 'Action start [0-9:]*: \(InstallInitialize\|RemoveExistingProducts\)\.' "$scratch/failed-upgrade.log" |
  sed 's/.*: //' | tr '\n' ' ' | grep -qx 'InstallInitialize\. RemoveExistingProducts\. ' &&
  pass "the older version's removal inside the installation" || fail "RemoveExistingProducts outside the transaction"
# Windows rolls the older version's removal back with this installation, and
# the removal's own rollback registers the older validator again. Wine runs
# the removal as an installation of its own, which stays done: what it shows
# is that the older version withdrew its NAP record, so nothing stale is left.
expect_eq "under Wine, no product" "$(products)" ""
nothing_left "under Wine, the failed upgrade"

echo "uninstall"
msiexec_logged install /i "$(winepath -w "$msi")"
expect_eq "the package installs" "$rc" 0
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
# A throw-away RFC 3161 time-stamp server on loopback.
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=SHV test time stamps" \
  -addext "extendedKeyUsage=critical,timeStamping" -keyout "$scratch/tsa-key.pem" -out "$scratch/tsa-cert.pem" 2>/dev/null
echo 01 >"$scratch/tsa.serial"
cat >"$scratch/tsa.cnf" <<EOF
[ tsa ]
default_tsa = throw_away
[ throw_away ]
serial = $scratch/tsa.serial
signer_cert = $scratch/tsa-cert.pem
signer_key = $scratch/tsa-key.pem
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
EOF
python3 "$here/tsa_server.py" "$scratch/tsa.cnf" "$scratch/tsa.port" "$scratch/tsa.count" </dev/null \
  2>"$scratch/tsa.err" &
tsa_pid=$!
for _ in $(seq 200); do [[ -s $scratch/tsa.port ]] && break; sleep 0.05; done
signed_files=(package/shv-windows-x64/healthval.dll package/shv-windows-x64/healthcfg.dll package/actions/shvsetup.dll
              shv-windows-x64.msi)
SHV_SIGN_PASSWORD=throw-away package_of . "$scratch/signed" --sign "$scratch/test.pfx"
SHV_SIGN_PASSWORD=throw-away no_proxy='*' package_of . "$scratch/stamped" --sign "$scratch/test.pfx" \
  --timestamp "http://127.0.0.1:$(cat "$scratch/tsa.port")/"
for f in "${signed_files[@]}"; do
  osslsigncode verify -CAfile "$scratch/cert.pem" -in "$scratch/signed/$f" >"$scratch/verify.txt" 2>&1 &&
    ! grep -q 'Timestamp Server Signature' "$scratch/verify.txt" &&
    pass "signed: $f" || fail "$f: $(tail -n 3 "$scratch/verify.txt")"
  osslsigncode verify -CAfile "$scratch/cert.pem" -TSA-CAfile "$scratch/tsa-cert.pem" -in "$scratch/stamped/$f" \
    >"$scratch/verify.txt" 2>&1 && grep -qx 'Timestamp Server Signature verification: ok' "$scratch/verify.txt" &&
    pass "signed and time-stamped: $f" || fail "$f: $(grep -i -m 3 'timestamp\|fail' "$scratch/verify.txt")"
done
expect_eq "time stamps from the throw-away server" "$(cat "$scratch/tsa.count" 2>/dev/null)" "${#signed_files[@]}"
osslsigncode verify -in "$msi" >/dev/null 2>&1 && fail "the unsigned build's package carries a signature" ||
  pass "without --sign nothing is signed"
finish
