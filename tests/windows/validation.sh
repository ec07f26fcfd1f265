# The validator module as the NAP server uses it: naphost.exe creates it
# through CoCreateInstance under Wine and validates against central-sim
# running natively on loopback. Every outcome must match the Linux build's
# answer to the same requests; two network policies are judged by their own
# configurations' central servers, a configuration that is gone by the
# default; a central server flooding lines cannot hold a request past its time
# limit; 128 requests at once are admitted and the 129th refused;
# DllCanUnloadNow refuses while a request runs; the component texts follow
# the thread locale.
source "$(dirname "$0")/common.bash"
settings='HKLM\SOFTWARE\VexorLabs\REDIVEVE\Settings'
trap stop_sims EXIT

# settings_both NAME TYPE DATA: the same setting for the Windows and the
# Linux module.
settings_both() {
  w reg add "$settings" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1
  "$linux/bin/reg" add "$settings" /v "$1" /t "$2" /d "$3" /f >/dev/null
}

# validate_both NAME RECORD...: the records through both builds (naming the
# configuration $policy when it is set); the answers without their times in
# $scratch/NAME.{windows,linux}.
strip_times() { tr -d '\r' <"$1" | sed -E 's/,"ms":[0-9.eE+-]+//'; }
policy=
validate_both() {
  local name=$1
  shift
  local named=()
  [[ -n $policy ]] && named=(--config-id "$policy")
  printf '%s\n' "$@" >"$scratch/$name.records"
  w naphost.exe validate --records "$(winepath -w "$scratch/$name.records")" --timeout-ms 20000 "${named[@]}" \
    >"$scratch/$name.windows.jsonl" 2>"$scratch/$name.windows.err" || true
  "$linux/bin/naphost" validate --records "$scratch/$name.records" --timeout-ms 20000 "${named[@]}" \
    >"$scratch/$name.linux.jsonl" 2>"$scratch/$name.linux.err" </dev/null || true
  strip_times "$scratch/$name.windows.jsonl" >"$scratch/$name.windows"
  strip_times "$scratch/$name.linux.jsonl" >"$scratch/$name.linux"
  expect_eq "$name: $# answers" "$(wc -l <"$scratch/$name.windows")" "$#"
  expect_eq "$name: the same answers as the Linux build" "$(cat "$scratch/$name.windows")" \
    "$(cat "$scratch/$name.linux")"
}
answer() { sed -n "$(($2 + 1))p" "$scratch/$1.windows"; }

# Both builds registered, each in its own registry.
export SHV_REGISTRY=$scratch/linux-registry.db
export SHV_DEBUG_OUTPUT=$scratch/linux-debug-output.log
"$linux/bin/naphost" register napsdk.dll >/dev/null </dev/null
"$linux/bin/naphost" register healthval.dll >/dev/null </dev/null
"$linux/bin/naphost" register healthcfg.dll >/dev/null </dev/null
w reg delete 'HKLM\SOFTWARE\NapServer\SystemHealthValidators\0073FA02' /f >/dev/null 2>&1 || true
w regsvr32 /s napsdk.dll && w regsvr32 /s healthval.dll && w regsvr32 /s healthcfg.dll || fail "registration under Wine"
w reg delete "$settings" /f >/dev/null 2>&1 || true

echo "every outcome"
start_sim main --verdict infected-pc=INFECTED --verdict old-laptop=OUTDATED
settings_both ServerName REG_SZ 127.0.0.1
settings_both ServerPort REG_DWORD "$port"
settings_both CacheTime REG_DWORD 300
settings_both ServerTimeout REG_DWORD 3000
settings_both ValidationEnabled REG_DWORD 1
validate_both server-up "1 healthy-pc 9f86d081" "1 infected-pc 3c59dc04" "1 old-laptop 45c48cce" \
  "1 healthy-pc 9f86d081" "1 broken-agent  e4da3b7f" "2 future-agent 1679091c"
expect_eq "compliant client" "$(answer server-up 0)" '{"request":0,"status":"00000000","compliance":"00000000"}'
[[ $(answer server-up 1) == *'"compliance":"'* && $(answer server-up 1) != *'"compliance":"00000000"'* ]] &&
  pass "infected client is not compliant" || fail "infected client: $(answer server-up 1)"
# Each client asked the server once: the repeated healthy client came from the cache.
expect_eq "conversations with the server (Wine, then Linux)" "$(grep -c healthy-pc "$scratch/main.jsonl")" 2
stop_sims
validate_both server-down "1 lonely-pc 8f14e45f"
settings_both ValidationEnabled REG_DWORD 0
validate_both switched-off "1 any-pc c9f0f895"
settings_both ValidationEnabled REG_DWORD 1

echo "two network policies, two central servers"
# config_both ARGS...: naphost config in both builds (each against its own
# registry); a blob named by --in is a Linux path, made Windows' for Wine.
config_both() {
  local args=("$@") i
  "$linux/bin/naphost" config "${args[@]}" </dev/null >/dev/null || fail "Linux: naphost config $*"
  for i in "${!args[@]}"; do [[ ${args[$i]} == --in ]] && args[$((i + 1))]=$(winepath -w "${args[$((i + 1))]}"); done
  w naphost.exe config "${args[@]}" >/dev/null 2>&1 || fail "Wine: naphost config $*"
}
# policy_blob FILE PORT: the default configuration's blob with another port.
policy_blob() {
  "$linux/bin/naphost" config get --out "$1" </dev/null
  python3 - "$1" "$2" <<'PY'
import struct, sys
b = bytearray(open(sys.argv[1], "rb").read())
b[8:12] = struct.pack("<I", int(sys.argv[2]))
open(sys.argv[1], "wb").write(b)
PY
}
start_sim office
office_port=$port
start_sim vpn --verdict roamer=INFECTED
vpn_port=$port
settings_both ServerPort REG_DWORD "$office_port"
settings_both CacheTime REG_DWORD 0
config_both new --config-id 3
policy_blob "$scratch/vpn.blob" "$vpn_port"
config_both set --config-id 3 --in "$scratch/vpn.blob"
policy_blob "$scratch/wide.blob" $((office_port + 65536))
config_both new --config-id 5
config_both set --config-id 5 --in "$scratch/wide.blob"
validate_both office-policy "1 roamer 9f86d081"
expect_eq "the default: the office server's verdict" "$(answer office-policy 0)" \
  '{"request":0,"status":"00000000","compliance":"00000000"}'
policy=3 validate_both vpn-policy "1 roamer 9f86d081"
expect_eq "configuration 3: the VPN server's verdict" "$(answer vpn-policy 0)" \
  '{"request":0,"status":"00000000","compliance":"80270050"}'
expect_eq "conversations of the VPN server (Wine, then Linux)" "$(grep -c roamer "$scratch/vpn.jsonl")" 2
policy=5 validate_both wide-port "1 roamer 9f86d081"
expect_eq "a port above 65535 connects nowhere" "$(answer wide-port 0)" \
  '{"request":0,"status":"00000000","failure_category":5}'
config_both delete --config-id 3
printf '%s\n' "1 roamer 9f86d081" "1 roamer 9f86d081" >"$scratch/gone.records"
with_debug_output naphost.exe validate --records "$(winepath -w "$scratch/gone.records")" --config-id 3
expect_eq "configuration 3 gone: the default's verdicts" "$(tr -d '\r' <"$scratch/stdout.log" | strip_times /dev/stdin)" \
  "$(printf '%s\n' '{"request":0,"status":"00000000","compliance":"00000000"}' \
    '{"request":1,"status":"00000000","compliance":"00000000"}')"
expect_eq "one line for the missing configuration" \
  "$(grep -c "configuration 3 does not exist, the default configuration is used" "$scratch/debug.log")" 1
config_both delete-all
settings_both CacheTime REG_DWORD 300
stop_sims

echo "a central server flooding lines: every request answered within the limit"
# Before the read loop yielded, such a server held every request it met until
# it stopped sending. The bound here leaves room for Wine on a loaded machine.
start_sim flooder --line-flood
settings_both ServerPort REG_DWORD "$port"
settings_both ServerTimeout REG_DWORD 1000
w naphost.exe validate --record "1 flooded-{n} 9f86d081" --count 8 --concurrency 8 --timeout-ms 30000 \
  >"$scratch/line-flood.jsonl" 2>"$scratch/line-flood.err" || true
expect_eq "answers" "$(wc -l <"$scratch/line-flood.jsonl")" 8
expect_eq "not compliant, without a verdict" "$(grep -c '"compliance":"80270050"' "$scratch/line-flood.jsonl")" 8
slowest=$(sed -E 's/.*"ms":([0-9]+).*/\1/' "$scratch/line-flood.jsonl" | sort -n | tail -1)
((${slowest:-99999} <= 5000)) && pass "slowest request ${slowest} ms" || fail "slowest request ${slowest:-?} ms"
settings_both ServerTimeout REG_DWORD 3000
stop_sims

echo "128 requests at once, the 129th refused"
# Each conversation takes five seconds (the time limit raised above it for
# this check): all 129 are in flight together even when starting them under
# Wine on a loaded machine takes seconds.
start_sim slow --delay-ms 2500
settings_both ServerPort REG_DWORD "$port"
settings_both ServerTimeout REG_DWORD 20000
SHV_WINE_TIMEOUT=120 w naphost.exe validate --record "1 pc-{n} 9f86d081" --count 129 --concurrency 129 \
  --timeout-ms 60000 >"$scratch/load.jsonl" 2>"$scratch/load.err" || true
expect_eq "answers" "$(wc -l <"$scratch/load.jsonl")" 129
expect_eq "conversations the server had" "$(wc -l <"$scratch/slow.jsonl")" 128
expect_eq "refused with 0x80070235" "$(grep -c '"status":"80070235"' "$scratch/load.jsonl")" 1
expect_eq "admitted and compliant" "$(grep -c '"compliance":"00000000"' "$scratch/load.jsonl")" 128
settings_both ServerTimeout REG_DWORD 3000
stop_sims

echo "DllCanUnloadNow"
start_sim slow --delay-ms 500
settings_both ServerPort REG_DWORD "$port"
w naphost.exe unload-check >"$scratch/unload.txt" 2>&1 || true
expect_eq "unload-check" "$(tr -d '\r' <"$scratch/unload.txt" | sed -E 's/ +/ /g')" \
"no object: S_OK (may unload)
object alive: S_FALSE (must stay)
request in progress: S_FALSE (must stay)
after completion: S_OK (may unload)"
stop_sims

echo "component texts by thread locale"
for locale in 0x0409 0x0407 0x0419; do
  w naphost.exe info --locale "$locale" 2>&1 | tr -d '\r' | grep -E '^(friendly name|description|vendor|version) ' \
    >"$scratch/info-$locale.windows" || true
  "$linux/bin/naphost" info --locale "$locale" </dev/null 2>&1 |
    grep -E '^(friendly name|description|vendor|version) ' >"$scratch/info-$locale.linux" || true
  expect_eq "$locale: as on Linux" "$(cat "$scratch/info-$locale.windows")" "$(cat "$scratch/info-$locale.linux")"
done
grep -q "verifiziert den Sicherheitsstatus" "$scratch/info-0x0407.windows" && pass "German description" ||
  fail "German description missing"
grep -q "verifies health state" "$scratch/info-0x0419.windows" && pass "Russian locale: English texts" ||
  fail "Russian locale description"

w regsvr32 /s /u healthval.dll || true
w regsvr32 /s /u healthcfg.dll || true
w regsvr32 /s /u napsdk.dll || true
finish
