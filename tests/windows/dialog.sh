# The configurator's settings dialog as the management console shows it, on
# the virtual screen: the language by thread locale (English for a language
# without its own), OK writing what was typed, an invalid port refused with
# message 305 (in Cyrillic on a Western code page, modal to the dialog) and
# nothing written, Cancel writing nothing, a key that refuses writes or reads
# reported with the reason, an owner that is no window, a malformed blob for
# a configuration that cannot be read, overlapping dialogs on two console
# threads, a hook that cannot be restored, and screenshots under screenshots/
# for a person to look at.
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
# open_dialog LCID [MODE ARGS...]: the console host calls InvokeUI (or what
# MODE names) with that thread locale; sets window to the dialog's window,
# empty when none appeared in time.
open_dialog() {
  # None of an earlier host's windows may be taken for this one's.
  local _
  for _ in $(seq 50); do
    [[ -z $(visible_windows) ]] && break
    sleep 0.1
  done
  w console_host.exe "$@" >"$scratch/host.out" 2>&1 &
  host_pid=$!
  window=$(timeout 20 xdotool search --sync --onlyvisible --classname console_host.exe 2>/dev/null | head -n1 || true)
}
# The host's end: InvokeUI's result once the dialog has closed.
host_result() {
  local _
  for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  stop_host
  tr -d '\r' <"$scratch/host.out" | grep '^InvokeUI' || echo "InvokeUI did not return"
}
# wait_host: the host's end, at most 10 s.
wait_host() {
  local _
  for _ in $(seq 100); do kill -0 "$host_pid" 2>/dev/null || break; sleep 0.1; done
  stop_host
}
# other_window: a visible window of the host that is not $window (a message
# box), empty when none appears within 10 s.
other_window() {
  timeout 10 bash -c 'while :; do for x in $(xdotool search --onlyvisible --classname console_host.exe 2>/dev/null); do [[ $x != '"$window"' ]] && { echo $x; exit; }; done; sleep 0.2; done' || true
}
# check_box SHOT OWNER TEXT: the message box that appears over $window: its
# screenshot, its owner (modal to it: the owner takes no input meanwhile, so
# a second OK cannot stack another box) and a line of it matching TEXT (an
# extended regular expression); then it is closed.
check_box() {
  local box box_texts
  box=$(other_window)
  if [[ -z $box ]]; then
    fail "no message box for \"$3\""
    return
  fi
  import -window root "$shots/$1"
  box_texts=$(texts "$(xdotool getwindowname "$box")")
  has_line "owned by the dialog" "$box_texts" "owner $2"
  has_line "the dialog takes no input meanwhile" "$box_texts" "owner enabled 0"
  grep -qE -- "$3" <<<"$box_texts" && pass "the message reads \"$3\"" || fail "no line \"$3\" in: $box_texts"
  close_box "$box"
}
# close_box WINDOW: presses its button and waits (at most 10 s) until it is gone.
close_box() {
  local _
  xdotool windowfocus --sync "$1" key Return
  for _ in $(seq 100); do
    visible_windows | grep -qx "$1" || return 0
    sleep 0.1
  done
}
# texts TITLE: the window's owner and its controls' texts.
texts() { w console_host.exe 0 texts "$1" 2>/dev/null | tr -d '\r'; }
# has_line WHAT TEXT LINE: one line of TEXT is LINE.
has_line() { if grep -qxF -- "$3" <<<"$2"; then pass "$1"; else fail "$1: no line \"$3\" in: $2"; fi; }
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
# Edits every field, then presses Cancel (from the port past OK).
fill_and_cancel() {
  fill 1 cancelled.example 1
  xdotool key --delay 50 Tab Tab space
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

echo "Russian: port 65536 refused with message 305 in Cyrillic, modal to the dialog, nothing written"
seed_settings
before=$(settings_now)
russian_title="Настройки Vexor Network Access Protection"
open_dialog 0x0419
if [[ -n $window ]]; then
  pass "dialog shown for 0x0419"
  fill 300 127.0.0.1 65536
  xdotool key Return
  check_box message-305-ru-0x0419.png "$russian_title" "Указано неверное значение"
  expect_eq "the dialog stays open" "$(visible_windows | grep -cx "$window")" 1
  xdotool windowfocus --sync "$window" key Escape
  expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"
  expect_eq "nothing written" "$(settings_now)" "$before"
else
  fail "no dialog for 0x0419"
  stop_host
fi

echo "Cancel writes nothing"
open_dialog 0x0409
if [[ -n $window ]]; then
  fill_and_cancel
  expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"
  expect_eq "nothing written" "$(settings_now)" "$before"
else
  fail "no dialog for Cancel"
  stop_host
fi

echo "a network policy's configuration: the dialog over its blob, OK returns it, Cancel nothing, the registry untouched"
# The blob the console keeps for the policy: vpn.example, port 2200, time-out
# 800, cache time 30, validation on.
python3 - "$scratch/policy.bin" <<'PY'
import struct, sys
name = "vpn.example".encode("utf-16-le")
open(sys.argv[1], "wb").write(struct.pack("<6I", 2, len(name), 2200, 800, 30, 1) + name)
PY
open_dialog 0x0409 blob "$(winepath -w "$scratch/policy.bin")" "$(winepath -w "$scratch/edited.bin")"
if [[ -n $window ]]; then
  expect_eq "the blob's address in the dialog" "$(texts "Vexor Network Access Protection Settings" | sed -n 's/^303 //p')" \
    vpn.example
  fill 45 vpn2.example 2300
  xdotool key Return
  expect_eq "OK" "$(host_result)" "InvokeUIFromConfigBlob 0x00000000 changed 1 count 48"
  expect_eq "the edited blob" "$(python3 -c 'import struct, sys; b = open(sys.argv[1], "rb").read()
print(struct.unpack("<6I", b[:24])[2:], b[24:].decode("utf-16-le"))' "$scratch/edited.bin")" "(2300, 800, 45, 1) vpn2.example"
  expect_eq "the registry as it was" "$(settings_now)" "$before"
  w reg query "$settings\Configurations" >/dev/null 2>&1 && fail "a configuration key was made" ||
    pass "no configuration key made"
else
  fail "no dialog for the blob"
  stop_host
fi
open_dialog 0x0409 blob "$(winepath -w "$scratch/policy.bin")" "$(winepath -w "$scratch/edited.bin")"
if [[ -n $window ]]; then
  fill_and_cancel
  expect_eq "Cancel" "$(host_result)" "InvokeUIFromConfigBlob 0x00000000 changed 0 count 0"
  expect_eq "the registry as it was" "$(settings_now)" "$before"
else
  fail "no dialog for the blob's Cancel"
  stop_host
fi

echo "Japanese: the English dialog"
open_dialog 0x0411
if [[ -n $window ]]; then
  expect_eq "title" "$(xdotool getwindowname "$window")" "Vexor Network Access Protection Settings"
  import -window "$window" "$shots/dialog-fallback-ja-0x0411.png"
  xdotool windowfocus --sync "$window" key Escape
  expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x00000000"
else
  fail "no dialog for 0x0411"
  stop_host
fi
shots_expected=2

echo "a key that refuses writes: the reason, the dialog open, the focus kept, OK again once allowed"
seed_settings
before=$(settings_now)
w console_host.exe 0 lock write >/dev/null
if w reg add "$settings" /v ServerPort /t REG_DWORD /d 1 /f >/dev/null 2>&1; then
  echo "  skipped: this Wine does not enforce a key's security"
else
  open_dialog 0x0409
  if [[ -n $window ]]; then
    fill 300 127.0.0.1 4242
    xdotool key Return
    check_box message-306-en-0x0409.png "Vexor Network Access Protection Settings" "The settings could not be saved: .+"
    shots_expected=$((shots_expected + 1))
    expect_eq "the dialog stays open" "$(visible_windows | grep -cx "$window")" 1
    expect_eq "nothing written" "$(settings_now)" "$before"
    # The focus is still in the port field, the last one typed into.
    xdotool windowfocus --sync "$window" type 7
    port=$(texts "Vexor Network Access Protection Settings" | sed -n 's/^304 //p')
    [[ $port == 7 || $port == 42427 ]] && pass "the focus stayed in the port field" || fail "port field reads '$port'"
    w console_host.exe 0 lock none >/dev/null
    xdotool windowfocus --sync "$window" key Return
    expect_eq "InvokeUI after the second OK" "$(host_result)" "InvokeUI 0x00000000"
    grep -qxF "ServerPort REG_DWORD $(printf '0x%x' "${port:-0}")" <<<"$(settings_now)" &&
      pass "the second OK wrote the port" || fail "port not written: $(settings_now)"
  else
    fail "no dialog for the refused write"
    stop_host
  fi
fi
w console_host.exe 0 lock none >/dev/null

echo "a key that refuses reads: the reason and no dialog"
seed_settings
w console_host.exe 0 lock read >/dev/null
if w reg query "$settings" >/dev/null 2>&1; then
  echo "  skipped: this Wine does not enforce a key's security"
else
  open_dialog 0x0409
  if [[ -n $window ]]; then
    [[ $(xdotool getwindowname "$window") != "Vexor Network Access Protection Settings" ]] &&
      pass "a message, not the dialog" || fail "the dialog opened on unreadable settings"
    import -window root "$shots/message-307-en-0x0409.png"
    shots_expected=$((shots_expected + 1))
    box_texts=$(texts "$(xdotool getwindowname "$window")")
    grep -qE "The settings could not be read: .+" <<<"$box_texts" && pass "message 307 names the reason" ||
      fail "no message 307 with a reason: $box_texts"
    xdotool windowfocus --sync "$window" key Return
    expect_eq "InvokeUI" "$(host_result)" "InvokeUI 0x80070005"
  else
    fail "no message for unreadable settings"
    stop_host
  fi
  expect_eq "GetConfig" "$(w console_host.exe 0x0409 get | tr -d '\r' | grep '^GetConfig')" "GetConfig 0x80070005 0"
fi
w console_host.exe 0 lock none >/dev/null

echo "an owner that is no window: InvokeUI logs it and answers S_OK, a blob's edit answers the error"
with_debug_output console_host.exe 0x0409 no-owner
out=$(tr -d '\r' <"$scratch/stdout.log")
has_line "InvokeUI" "$out" "InvokeUI 0x00000000"
grep -qxE 'InvokeUIFromConfigBlob 0x8007[0-9A-F]{4} changed 0 count 0' <<<"$out" &&
  pass "InvokeUIFromConfigBlob: the system's error" || fail "InvokeUIFromConfigBlob: $out"
expect_logged "[SettingsDialog] the dialog could not be shown because of error 0x8007"

echo "a configuration that cannot be read: naphost config set says a malformed blob is one"
configuration='SOFTWARE\VexorLabs\REDIVEVE\Settings\Configurations\4'
w naphost.exe config new --config-id 4 >/dev/null 2>&1 || fail "naphost config new --config-id 4"
w console_host.exe 0 lock read "$configuration" >/dev/null
if w reg query "HKLM\\$configuration" >/dev/null 2>&1; then
  echo "  skipped: this Wine does not enforce a key's security"
else
  head -c 23 /dev/zero >"$scratch/short.bin"
  rc=0
  w naphost.exe config set --config-id 4 --in "$(winepath -w "$scratch/short.bin")" >"$scratch/set.out" 2>&1 || rc=$?
  expect_eq "naphost config set: exit status" "$rc" 1
  grep -qF "SetConfig refused the blob (error 0x80070057)" <(tr -d '\r' <"$scratch/set.out") &&
    pass "the blob is refused as such" || fail "naphost config set said: $(tr -d '\r' <"$scratch/set.out")"
fi
w console_host.exe 0 lock none "$configuration" >/dev/null
w naphost.exe config delete-all >/dev/null 2>&1 || fail "naphost config delete-all"

echo "two console threads, the first dialog closed first: the import comes back, the module unloads"
out=$(w console_host.exe 0x0407 two 2>&1 | tr -d '\r' || true)
for line in "first InvokeUI 0x00000000, redirected while the other is open 1" "second InvokeUI 0x00000000" \
            "import restored 1" "unloaded 1" "FindResourceW answered"; do
  has_line "$line" "$out" "$line"
done

echo "a restore that fails: the module stays loaded, the import still answers"
WINEDEBUG=-all,+debugstr timeout 60 wine console_host.exe 0x0409 fail-restore </dev/null \
  >"$scratch/fail.out" 2>"$scratch/fail.debug" &
host_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name "^Vexor Network Access Protection Settings$" 2>/dev/null | head -n1 || true)
if [[ -n $window ]]; then
  xdotool windowfocus --sync "$window" key Escape
  wait_host
  out=$(tr -d '\r' <"$scratch/fail.out")
  for line in "InvokeUI 0x00000000, import restored 0" "unloaded 0" "FindResourceW answered"; do
    has_line "$line" "$out" "$line"
  done
  grep -qF "healthcfg.dll stays loaded for the rest of the process" "$scratch/fail.debug" &&
    pass "the pin is logged" || fail "no log line of the pin"
else
  fail "no dialog for the failing restore"
  stop_host
fi

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
expect_eq "screenshots" "$(ls "$shots" | wc -l)" $((17 + shots_expected))
seed_settings
w regsvr32 /s /u healthcfg.dll || true
finish
