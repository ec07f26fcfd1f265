# What the modules show the system: exactly the four COM exports, imports of
# Windows system libraries only (no mingw runtime; QUtil.dll is loaded at run
# time), and the version resource an administrator sees in the properties.
source "$(dirname "$0")/common.bash"

objdump=x86_64-w64-mingw32-objdump
system_dlls='^(KERNEL32|ADVAPI32|USER32|GDI32|COMCTL32|ole32|OLEAUT32|WS2_32|IPHLPAPI|msvcrt)\.dll$'
declare -A description=(
  [healthval]="Vexor System Health Validator"
  [healthcfg]="Vexor System Health Validator Configuration"
)

modules=(healthval)
[[ -f $root/cfg/CMakeLists.txt ]] && modules+=(healthcfg)
for module in "${modules[@]}"; do
  if [[ ! -f $module.dll ]]; then
    fail "$module.dll was not built"
    continue
  fi
  echo "$module.dll"
  tables=$($objdump -p "$module.dll")
  exports=$(awk '/\[Ordinal\/Name Pointer\] Table/ {on=1; next} on && /^[ \t]*\[ *[0-9]+\]/ {print $NF; next} on {exit}' <<<"$tables" | sort | tr '\n' ' ')
  expect_eq "exports by name" "$exports" "DllCanUnloadNow DllGetClassObject DllRegisterServer DllUnregisterServer "
  expect_eq "entries in the export address table" "$(grep -c 'Export RVA' <<<"$tables")" 4
  imports=$(awk '/DLL Name:/ {print $3}' <<<"$tables")
  [[ -n $imports ]] || fail "no import table read"
  others=$(grep -viE "$system_dlls" <<<"$imports" || true)
  expect_eq "imports only system libraries ($(tr '\n' ' ' <<<"$imports"))" "$others" ""
  if grep -qi 'qutil' <<<"$imports"; then fail "QUtil.dll must not be imported"; fi
  version=$(strings -el "$module.dll" | tr '\n' '|')
  for field in "CompanyName|Vexor Labs, Ltd." "FileVersion|$(project_version)" "FileDescription|${description[$module]}"; do
    if [[ $version == *"|$field|"* ]]; then pass "version resource: ${field/|/ = }"; else fail "version resource lacks ${field/|/ = }"; fi
  done
  fixed=$(python3 "$root/installer/file_version.py" "$module.dll")
  expect_eq "binary file version = the project's" "$fixed" "$(project_version)"
done
finish
