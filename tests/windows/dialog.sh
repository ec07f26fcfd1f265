# The configurator's settings dialog as the management console shows it, on
# the virtual screen: the language by thread locale (none for Japanese), OK
# writing what was typed, an invalid port refused with message 305 and
# nothing written, Cancel writing nothing, and one screenshot per language
# under screenshots/ for a person to look at.
source "$(dirname "$0")/common.bash"
if [[ ! -f $root/cfg/CMakeLists.txt ]]; then
  echo "  skipped: the configurator module is not part of this tree yet"
  exit 0
fi
[[ -n ${DISPLAY:-} ]] || { fail "no display: scripts/test-windows starts Xvfb"; finish; }
settings='HKLM\SOFTWARE\VexorLabs\REDIVEVE\Settings'
shots=$dir/screenshots
rm -rf "$shots" && mkdir -p "$shots"
host_pid=
stop_host() {
  if [[ -n $host_pid ]]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  host_pid=
}
trap stop_host EXIT

# The console host's visible windows. Each search has a time limit: one once
# hung on the X server for minutes.
visible_windows() { timeout 10 xdotool search --onlyvisible --classname console_host.exe 2>/dev/null || true; }
# open_dialog LCID: the console host calls InvokeUI with that thread locale;
# sets window to the dialog's window, empty when none appeared in time.
open_dialog() {
  # None of an earlier host's windows may be taken for this one's.
  local _
  for _ in $(seq 50); do
    [[ -z $(visible_windows) ]] && break
    sleep 0.1
  done
  w console_host.exe "$1" >"$scratch/host.out" 2>&1 &
  host_pid=$!
  window=$(timeout "${2:-20}" xdotool search --sync --onlyvisible --classname console_host.exe 2>/dev/null | head -n1 || true)
}
# The host's end: InvokeUI's result once the dialog has closed.
host_result() {
  local _
  for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  stop_host
  tr -d '\r' <"$scratch/host.out" | grep '^InvokeUI' || echo "InvokeUI did not return"
}
settings_now() { w reg query "$settings" 2>/dev/null | tr -d '\r' | grep REG_ | sed 's/^ *//; s/  */ /g' | sort; }
seed_settings() {
  w reg add "$settings" /v ServerName /t REG_SZ /d old.example /f >/dev/null 2>&1
  w reg add "$settings" /v ServerPort /t REG_DWORD /d 2193 /f >/dev/null 2>&1
  w reg add "$settings" /v CacheTime /t REG_DWORD /d 10000 /f >/dev/null 2>&1
  w reg add "$settings" /v ServerTimeout /t REG_DWORD /d 10000 /f >/dev/null 2>&1
  w reg add "$settings" /v ValidationEnabled /t REG_DWORD /d 1 /f >/dev/null 2>&1
}
# fill CACHE ADDRESS PORT: from the first tab stop (OK) to the cache time,
# then the address and the port; tabbing into an edit selects its text.
fill() {
  xdotool windowfocus --sync "$window"
  xdotool key --delay 50 Tab Tab Tab
  xdotool type --delay 20 "$1"
  xdotool key --delay 50 Tab
  xdotool type --delay 20 "$2"
  xdotool key --delay 50 Tab
  xdotool type --delay 20 "$3"
}

w regsvr32 /s healthcfg.dll || fail "regsvr32 healthcfg.dll"

echo "English: OK writes what was typed"
seed_settings
open_dialog 0x0409
if [[ -n $window ]]; then
  pass "dialog shown for 0x0409"
  expect_eq "title" "$(xdotool getwindowname "$window")" "Vexor Network Access Protection Settings"
  fill 300 127.0.0.1 4242
  xdotool key Return
  expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"
  expect_eq "the registry holds them" "$(settings_now)" "$(printf '%s\n' "CacheTime REG_DWORD 0x12c" \
    "ServerName REG_SZ 127.0.0.1" "ServerPort REG_DWORD 0x1092" "ServerTimeout REG_DWORD 0x2710" \
    "ValidationEnabled REG_DWORD 0x1" | sort)"
else
  fail "no dialog for 0x0409"
  stop_host
fi

echo "German: port 65536 refused with message 305, nothing written"
seed_settings
before=$(settings_now)
open_dialog 0x0407
if [[ -n $window ]]; then
  pass "dialog shown for 0x0407"
  fill 300 127.0.0.1 65536
  xdotool key Return
  box=$(timeout 10 bash -c 'while :; do for x in $(xdotool search --onlyvisible --classname console_host.exe 2>/dev/null); do [[ $x != '"$window"' ]] && { echo $x; exit; }; done; sleep 0.2; done' || true)
  if [[ -n $box ]]; then
    pass "a message box appears"
    import -window root "$scratch/message-305.png"
    xdotool windowfocus --sync "$box" key Return
    # Once the box has gone, the dialog must still be there.
    for _ in $(seq 100); do
      visible_windows | grep -qx "$box" || break
      sleep 0.1
    done
  else
    fail "no message box for port 65536"
  fi
  expect_eq "the dialog stays open" "$(visible_windows | grep -cx "$window")" 1
  xdotool windowfocus --sync "$window" key Escape
  expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"
  expect_eq "nothing written" "$(settings_now)" "$before"
else
  fail "no dialog for 0x0407"
  stop_host
fi

echo "Cancel writes nothing"
open_dialog 0x0409
if [[ -n $window ]]; then
  fill 1 cancelled.example 1
  xdotool key --delay 50 Tab Tab space   # from the port past OK to Cancel
  expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"
  expect_eq "nothing written" "$(settings_now)" "$before"
else
  fail "no dialog for Cancel"
  stop_host
fi

echo "Japanese: no dialog"
open_dialog 0x0411 5
expect_eq "no window" "$window" ""
expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"

echo "one screenshot per language"
for entry in 0x0409:en 0x0410:it 0x0407:de 0x040A:es 0x040C:fr 0x0415:pl 0x0416:pt 0x0419:ru 0x0427:lt \
             0x0402:bg 0x0408:el 0x040E:hu 0x041B:sk 0x0422:uk 0x0425:et 0x0426:lv 0x0804:zh; do
  locale=${entry%%:*}
  open_dialog "$locale"
  if [[ -n $window ]]; then
    import -window "$window" "$shots/dialog-${entry#*:}-$locale.png"
    xdotool windowfocus --sync "$window" key Escape
    host_result >/dev/null
  else
    fail "no dialog for $locale"
    stop_host
  fi
done
expect_eq "screenshots" "$(ls "$shots" | wc -l)" 17
seed_settings
w regsvr32 /s /u healthcfg.dll || true
finish
