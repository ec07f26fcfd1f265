# A crash inside one of our modules leaves its description in the log at
# level 0 and then goes on as before: the host's own unhandled-exception
# filter sees the same exception at the same address, also when the crash
# has broken the heap. Faults outside the module, C++ exceptions handled
# inside it, and faults after it is unloaded leave no line; an unload waits
# for a description under way on another thread. fault_module.dll is a test module built from the modules'
# sources that crashes on request (never shipped); fault_host.exe prints what
# reaches its filter: "unhandled CODE @ ADDRESS [P0 P1]".
source "$(dirname "$0")/common.bash"

# run_case CASE: sets unhandled (what the host's filter saw) and ftl (the
# level-0 lines logged).
run_case() {
  with_debug_output fault_host.exe "$1"
  unhandled=$(grep '^unhandled ' "$scratch/stdout.log" | tr -d '\r' || true)
  ftl=$(grep -o ' FTL \[.*' "$scratch/debug.log" || true)
}

# A fault inside the module: the line names code, address and, for an access
# violation, the access kind and the address accessed; the filter sees the
# same exception.
check_module_fault() {
  local name=$1 code=$2 params=$3 want_params=$4
  run_case "$name"
  local address
  address=$(awk '{print $4}' <<<"$unhandled")
  expect_eq "$name: the host's filter sees it" "$(awk '{print $2}' <<<"$unhandled") $(cut -d' ' -f5- <<<"$unhandled")" "$code $want_params"
  if [[ -n $address && $ftl == *"exception $code (0) @ $address $params RIP=33:$address "* ]]; then
    pass "$name: described at level 0 with the same address"
  else
    fail "$name: no level-0 description matching '$unhandled': '$ftl'"
  fi
}

check_module_fault module-write c0000005 "2:[0000000000000001 0000000000000010]" "1 10"
check_module_fault module-read c0000005 "2:[0000000000000000 0000000000000018]" "0 18"
check_module_fault module-divide c0000094 "0:[]" ""
# Nothing is allocated while describing: the module's allocations fault now.
check_module_fault module-write-broken-heap c0000005 "2:[0000000000000001 0000000000000010]" "1 10"

# The main thread unloads the module while another thread's fault is being
# described: the unload waits, the description completes, the fault goes on.
run_case unload-during-report
expect_eq "an unload during a report" "$(grep -c '^unmapped during the report' "$scratch/stdout.log")" 0
expect_eq "  waits for it and then completes" "$(grep -c '^unloaded 1' "$scratch/stdout.log")" 1
address=$(awk '{print $4}' <<<"$unhandled")
if [[ -n $address && $ftl == *"exception c0000005 (0) @ $address 2:[0000000000000001 0000000000000020]"* ]]; then
  pass "  the fault is described and reaches the host's filter"
else
  fail "  no level-0 description matching '$unhandled': '$ftl'"
fi

run_case module-cxx
expect_eq "a C++ exception handled inside the module" "$(grep -c '^handled 4' "$scratch/stdout.log")" 1
expect_eq "  leaves no level-0 line" "$ftl" ""

run_case host-write
expect_eq "a fault in the host reaches its filter" "$(cut -d' ' -f2,5- <<<"$unhandled")" "c0000005 1 20"
expect_eq "  and is not ours to describe" "$ftl" ""

run_case unloaded-host-write
expect_eq "after the module is unloaded" "$(grep -c '^unloaded 1' "$scratch/stdout.log")" 1
expect_eq "  a fault still reaches the host's filter unchanged" "$(cut -d' ' -f2,5- <<<"$unhandled")" "c0000005 1 20"
expect_eq "  with no line" "$ftl" ""

finish
