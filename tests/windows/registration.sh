# Registration of the validator module with the system's registration tool:
# the COM keys it writes (exactly those), the error without the NAP server
# management class, and unregistration removing what it wrote.
source "$(dirname "$0")/common.bash"

# A clean start: neither the module nor the NAP SDK stand-in registered, no
# keys left by an earlier run.
w regsvr32 /s /u napsdk.dll >/dev/null 2>&1 || true
forget_nap_record
forget_keys healthval
reg_snapshot hkcr HKCR

echo "without the NAP server management class"
with_debug_output regsvr32 /s healthval.dll
expect_eq "regsvr32 reports the failed registration" "$rc" 5
expect_logged "Unable to create INapServerManagement instance because of error 0x80040154"
expect_eq "the COM keys are written nevertheless" "$(reg_changes hkcr HKCR)" \
  "$(expected_changes "$here/expected/healthval.reg.txt" healthval.dll | sed 's/^/+ /')"

echo "with the NAP SDK stand-in registered"
expect_eq "napsdk.dll registers" "$(w regsvr32 /s napsdk.dll >/dev/null 2>&1; echo $?)" 0
reg_snapshot hkcr HKCR
with_debug_output regsvr32 /s healthval.dll
expect_eq "regsvr32 healthval.dll" "$rc" 0
expect_logged "[DllRegisterServer] System Health Validator successfully registered"
expect_eq "registering again changes nothing" "$(reg_changes hkcr HKCR)" ""
record=$(w reg query "$nap_record" 2>/dev/null | tr -d '\r' | sed 's/^ *//; s/  */ /g')
for value in "FriendlyName REG_SZ Vexor System Health Validator" "Version REG_SZ 1.0.0.1" \
             "VendorName REG_SZ Vexor Labs, Ltd."; do
  grep -qxF "$value" <<<"$record" && pass "NAP record: $value" || fail "NAP record lacks \"$value\": $record"
done

echo "unregistration"
forget_nap_record
with_debug_output regsvr32 /s /u healthval.dll
expect_eq "unknown to the NAP server: regsvr32 /u fails" "$rc" 5
expect_logged "Unable to unregister System Health Validator because of error"
expect_eq "and the COM keys stay" "$(reg_changes hkcr HKCR)" ""

w regsvr32 /s healthval.dll >/dev/null 2>&1
with_debug_output regsvr32 /s /u healthval.dll
expect_eq "regsvr32 /u healthval.dll" "$rc" 0
expect_logged "[DllUnregisterServer] System Health Validator successfully unregistered"
expect_eq "every key it wrote is gone, CLSID and AppID stay" "$(reg_changes hkcr HKCR)" \
  "$(expected_changes "$here/expected/healthval.reg.txt" healthval.dll | sed 's/^/- /')"
w reg query 'HKCR\CLSID' >/dev/null 2>&1 && w reg query 'HKCR\AppID' >/dev/null 2>&1 &&
  pass "HKCR\\CLSID and HKCR\\AppID remain" || fail "HKCR\\CLSID or HKCR\\AppID removed"

expect_eq "the NAP record is gone" "$(w reg query "$nap_record" >/dev/null 2>&1; echo $?)" 1
w regsvr32 /s /u napsdk.dll >/dev/null 2>&1 || true

if [[ -f $root/cfg/CMakeLists.txt ]]; then
  echo "the configurator module"
  forget_keys healthcfg
  reg_snapshot hkcr HKCR
  with_debug_output regsvr32 /s healthcfg.dll
  expect_eq "regsvr32 healthcfg.dll" "$rc" 0
  expect_eq "exactly its keys" "$(reg_changes hkcr HKCR)" \
    "$(expected_changes "$here/expected/healthcfg.reg.txt" healthcfg.dll | sed 's/^/+ /')"
  reg_snapshot hkcr HKCR
  with_debug_output regsvr32 /s /u healthcfg.dll
  expect_eq "regsvr32 /u healthcfg.dll" "$rc" 0
  expect_eq "every key it wrote is gone" "$(reg_changes hkcr HKCR)" \
    "$(expected_changes "$here/expected/healthcfg.reg.txt" healthcfg.dll | sed 's/^/- /')"

  echo "both modules in a folder named outside the system code page"
  folder="$scratch/Тест 测试"
  mkdir -p "$folder"
  cp healthcfg.dll healthval.dll "$folder/"
  w regsvr32 /s napsdk.dll >/dev/null 2>&1 || true
  for module in healthcfg healthval; do
    with_debug_output regsvr32 /s "$(winepath -w "$folder/$module.dll")"
    expect_eq "regsvr32 $module.dll there" "$rc" 0
  done
  module_path=$(winepath -w "$folder/healthcfg.dll")
  expect_eq "the configurator's server is registered as it is named" \
    "$(reg_listing 'HKCR\CLSID\{0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}\InprocServer32' | grep -F '@=' || true)" \
    "[HKEY_CLASSES_ROOT\CLSID\{0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}\InprocServer32] | @=\"${module_path//\\/\\\\}\""
  grep -q "^GetConfig 0x00000000 " <<<"$(w console_host.exe 0x0409 get | tr -d '\r')" &&
    pass "the configurator loads from there" || fail "the configurator does not load from $folder"
  grep -q "^friendly name  Vexor System Health Validator" <<<"$(w naphost.exe info --locale 0x0409 | tr -d '\r')" &&
    pass "the validator loads from there" || fail "the validator does not load from $folder"
  for module in healthval healthcfg; do
    with_debug_output regsvr32 /s /u "$(winepath -w "$folder/$module.dll")"
    expect_eq "regsvr32 /u $module.dll there" "$rc" 0
  done
  w regsvr32 /s /u napsdk.dll >/dev/null 2>&1 || true
  forget_nap_record
else
  echo "the configurator module: not part of this tree yet, skipped"
fi
finish
