# Shared by the Windows module checks: run from scripts/test-windows, which
# has set up the Wine prefix and started its server detached from every pipe.
# Every Wine call reads /dev/null and has a time limit.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
dir=${1:?usage: $0 BUILD_DIR}
cd "$dir"
scratch=$dir/check-scratch/$(basename "$0" .sh)
rm -rf "$scratch" && mkdir -p "$scratch"
failures=0

w() { timeout "${SHV_WINE_TIMEOUT:-60}" wine "$@" </dev/null; }

fail() {
  echo "  FAIL: $*"
  failures=$((failures + 1))
}
pass() { echo "  ok: $*"; }

# expect_eq WHAT ACTUAL EXPECTED
expect_eq() {
  if [[ $2 == "$3" ]]; then pass "$1"; else fail "$1: got '$2', expected '$3'"; fi
}

# Runs a Wine program with the modules' debugger output captured in
# $scratch/debug.log; sets rc to its exit status.
with_debug_output() {
  rc=0
  WINEDEBUG=-all,+debugstr timeout "${SHV_WINE_TIMEOUT:-60}" wine "$@" </dev/null \
    >"$scratch/stdout.log" 2>"$scratch/debug.log" || rc=$?
}

# expect_logged TEXT: one of the debugger output lines of the last
# with_debug_output holds TEXT.
expect_logged() {
  if grep -qF -- "$1" "$scratch/debug.log"; then pass "logged \"$1\""; else fail "not logged: \"$1\""; fi
}

# "[KEY] | v1 | v2" -> "[KEY] | v1" and "[KEY] | v2", sorted: the order in
# which values were written does not matter.
one_value_a_line() {
  awk -F ' [|] ' '{if (NF == 1) print $1; else for (i = 2; i <= NF; i++) print $1 " | " $i}' | LC_ALL=C sort
}

# The registry below KEY as a sorted, UTF-8 .reg listing, one line per value.
# Keys shared by the 32- and 64-bit views (HKCR\AppID) appear in Wine's
# export under Wow6432Node too: the listing keeps the 64-bit view only.
reg_listing() {
  local out=$scratch/export.reg
  rm -f "$out"
  w reg export "$1" "$(winepath -w "$out")" /y >/dev/null 2>&1 || { echo "(no key)"; return; }
  iconv -f UTF-16LE -t UTF-8 "$out" | tr -d '\r\357\273\277' | grep -v '^Windows Registry Editor' |
    awk 'BEGIN {RS=""; FS="\n"} {l = $1; for (i = 2; i <= NF; i++) l = l " | " $i; print l}' |
    grep -v '^\[HKEY_CLASSES_ROOT\\Wow6432Node\\' | one_value_a_line
}

# What changed in the registry below KEY since reg_snapshot NAME KEY: the
# added and removed blocks, one "+ "/"- " line each.
reg_snapshot() { reg_listing "$2" >"$scratch/$1.snapshot"; }
reg_changes() {
  reg_listing "$2" >"$scratch/$1.now"
  LC_ALL=C comm -13 "$scratch/$1.snapshot" "$scratch/$1.now" | sed 's/^/+ /'
  LC_ALL=C comm -23 "$scratch/$1.snapshot" "$scratch/$1.now" | sed 's/^/- /'
}

# expected_changes FILE MODULE_PATH: the blocks FILE expects, %MODULE% being
# the module's Windows path as a .reg file writes it, sorted like reg_changes.
expected_changes() {
  local module line
  module=$(winepath -w "$2")
  module=${module//\\/\\\\}
  while IFS= read -r line; do
    [[ -z $line || $line == \#* ]] && continue
    echo "${line//%MODULE%/"$module"}"
  done <"$1" | one_value_a_line
}

# A clean start for a module's registration: the keys it writes below
# HKEY_CLASSES_ROOT deleted (forget_keys healthval|healthcfg), and the NAP
# server stand-in's record of the validator (forget_nap_record).
declare -A module_keys=(
  [healthval]='AppID\healthval.DLL|AppID\{162cb876-e4cb-424e-abc3-bd87de5f29d9}|CLSID\{60d48d71-1c65-4775-a2c2-2e331632914d}|Vexor.SHV'
  [healthcfg]='AppID\healthcfg.dll|AppID\{73D1100C-337E-4de7-84B9-8F5B10202693}|CLSID\{0C5C9CEC-1FF7-42e3-AC8F-4D9BAE296C5D}'
)
forget_keys() {
  local module key keys
  for module in "$@"; do
    IFS='|' read -ra keys <<<"${module_keys[$module]}"
    for key in "${keys[@]}"; do w reg delete "HKCR\\$key" /f >/dev/null 2>&1 || true; done
  done
}
nap_record='HKLM\SOFTWARE\NapServer\SystemHealthValidators\0073FA02'
forget_nap_record() { w reg delete "$nap_record" /f >/dev/null 2>&1 || true; }

# The project's own version (CMakeLists.txt), which the modules and the
# package must carry.
project_version() { sed -n 's/^project(shv .*VERSION \([0-9.]*\)).*/\1/p' "$root/CMakeLists.txt"; }

# Native central-sim instances on 127.0.0.1, stopped by stop_sims (the
# caller traps EXIT with it).
linux=${SHV_LINUX_BUILD:-$root/build}
sims=()
stop_sims() {
  local pid
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  sims=()
}

# start_sim NAME ARGS...: a central-sim on 127.0.0.1; sets port.
start_sim() {
  local name=$1
  shift
  rm -f "$scratch/$name.port"
  "$linux/bin/central-sim" --port-file "$scratch/$name.port" "$@" \
    >"$scratch/$name.jsonl" 2>"$scratch/$name.err" </dev/null &
  sims+=($!)
  for _ in $(seq 200); do [[ -s $scratch/$name.port ]] && break; sleep 0.05; done
  port=$(cat "$scratch/$name.port")
}

finish() {
  if ((failures)); then
    echo "  $failures check(s) failed"
    exit 1
  fi
}
