# The validator's Application log under Wine: the event source's key that
# registration writes and unregistration removes, the message table in
# healthval.dll, and what ReportEventW receives (WINEDEBUG=+eventlog for the
# strings, fixme+advapi for the type and id) when
# the central server goes away and comes back.
source "$(dirname "$0")/common.bash"
settings='HKLM\SOFTWARE\VexorLabs\REDIVEVE\Settings'
source_key='HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\Vexor System Health Validator'
trap stop_sims EXIT

echo "the event source"
w reg delete 'HKLM\SOFTWARE\NapServer\SystemHealthValidators\0073FA02' /f >/dev/null 2>&1 || true
w regsvr32 /s napsdk.dll && w regsvr32 /s healthval.dll || fail "registration under Wine"
values=$(w reg query "$source_key" 2>/dev/null | tr -d '\r' | sed 's/^ *//; s/  */ /g')
module=$(winepath -w "$PWD/healthval.dll")
grep -qixF "EventMessageFile REG_EXPAND_SZ $module" <<<"$values" &&
  pass "EventMessageFile names the module" || fail "EventMessageFile: $values (module $module)"
grep -qxF "TypesSupported REG_DWORD 0x7" <<<"$values" && pass "TypesSupported 7" || fail "TypesSupported: $values"

echo "the message table"
# The resource directory's first level lists the types: 11 is RT_MESSAGETABLE.
types=$(x86_64-w64-mingw32-objdump -p healthval.dll | sed -n '/The .rsrc Resource Directory section/,$p' |
        grep -E '^[0-9a-f]+   Entry: ID: ' || true)
grep -qE 'ID: 0x0*b,' <<<"$types" && pass "a message table resource" || fail "no message table resource: $types"
texts=$(strings -a healthval.dll; strings -a -el healthval.dll)
for text in "The central server %1 cannot be reached (%2)." "The central server %1 gives verdicts again after %2 seconds away" \
            "In the last hour: %1 requests"; do
  grep -qF "$text" <<<"$texts" && pass "message: $text" || fail "no message \"$text\""
done

echo "what ReportEventW receives"
# A port where nothing listens until the central server comes back: the
# first request is refused, the second, paced, finds the server again. The
# module keeps its state per process, so both go through one naphost.
start_sim events
stop_sims
w reg add "$settings" /v ServerName /t REG_SZ /d 127.0.0.1 /f >/dev/null 2>&1
w reg add "$settings" /v ServerPort /t REG_DWORD /d "$port" /f >/dev/null 2>&1
w reg add "$settings" /v ServerTimeout /t REG_DWORD /d 3000 /f >/dev/null 2>&1
w reg add "$settings" /v CacheTime /t REG_DWORD /d 0 /f >/dev/null 2>&1
records=$scratch/events.records
printf '%s\n' "1 away-pc d" "1 away-pc d" >"$records"
trace=$scratch/events.trace
WINEDEBUG=-all,+eventlog,fixme+advapi timeout "${SHV_WINE_TIMEOUT:-60}" wine naphost.exe validate \
  --records "$(winepath -w "$records")" --pause-ms 15000 </dev/null >"$scratch/events.out" 2>"$trace" &
naphost_pid=$!
# What Wine's ReportEventW received: its advapi line has (handle, type,
# category, id, ...), ids in hex; the eventlog channel has the strings.
reported() { grep -ciE "ReportEventW \([^,]*,0x0*$1,0x0*0,0x0*$2," "$trace" 2>/dev/null || true; }
for _ in $(seq 300); do (($(reported 2 3e8))) && break; sleep 0.05; done
expect_eq "the first request, refused: warning 1000 (unreachable)" "$(reported 2 3e8)" 1
grep -qF 'the connection was refused' "$trace" &&
  pass "its reason is an insertion string" || fail "no reason in: $(grep -i reportevent "$trace" | head -3)"
saved_port=$port
start_sim events --port "$saved_port"
expect_eq "the central server is back on its port" "$port" "$saved_port"
wait "$naphost_pid" || fail "naphost.exe validate: $(cat "$scratch/events.out")"
expect_eq "the second request has a verdict" "$(tr -d '\r' <"$scratch/events.out" | sed -n 2p | sed -E 's/,"ms":.*//')" \
  '{"request":1,"status":"00000000","compliance":"00000000"'
expect_eq "and the first verdict afterwards: information 1002 (recovered)" "$(reported 4 3ea)" 1
stop_sims

echo "unregistration"
w regsvr32 /s /u healthval.dll || fail "regsvr32 /u healthval.dll"
expect_eq "the source's key is gone" "$(w reg query "$source_key" >/dev/null 2>&1; echo $?)" 1
w regsvr32 /s /u napsdk.dll >/dev/null 2>&1 || true
finish
