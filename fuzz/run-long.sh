#!/usr/bin/env bash
# A long run of one fuzz target: fuzz/run-long.sh TARGET EXECUTIONS
#
# Targets: reply_head reply_reading ipp_reply printer_uri port_info_pack port_info_pack_wide.
# Uses the native build in $NIMBREL_FUZZ_BUILD (default build/native; configured and built here
# when the target is missing). The run starts from the seed corpus plus what earlier long runs of
# the target found (kept in the build tree, never in the repository), with value profiles on.
# Findings go to <build>/fuzz-long/TARGET/findings/; the full log to .../run.log. At the end one
# line of figures is printed, as docs/fuzzing.md records them:
#   | target | executions | seconds | exec/s | coverage | features | corpus | findings |
# The exit status is libFuzzer's: 0 when the run ended without a finding.
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
. "$top/fuzz/fuzz-options.sh"

if [ $# -ne 2 ]; then
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2
fi
target=$1
executions=$2
fuzz_target_options "$target"

build=${NIMBREL_FUZZ_BUILD:-$top/build/native}
fuzzer=$build/fuzz_$target
if [ ! -x "$fuzzer" ]; then
    cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang \
        -DCMAKE_CXX_COMPILER=clang++ -DNIMBREL_FUZZ=ON >/dev/null
    cmake --build "$build" --target "fuzz_$target"
fi

out=$build/fuzz-long/$target
mkdir -p "$out/corpus" "$out/findings"
log=$out/run.log

start=$(date +%s)
status=0
"$fuzzer" "${FUZZ_OPTIONS[@]}" -use_value_profile=1 -runs="$executions" -print_final_stats=1 \
    -artifact_prefix="$out/findings/" "$out/corpus" "$FUZZ_CORPUS" >"$log" 2>&1 || status=$?
seconds=$(($(date +%s) - start))

# The figures of the last status line ("#N DONE cov: C ft: F corp: N/S ...") and the totals.
last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
field() { sed -n "s/.* $1: \([^ ]*\).*/\1/p" <<<"$last"; }
ran=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
findings=$(find "$out/findings" -type f | wc -l)
printf '| %s | %s | %s | %s | %s | %s | %s | %s |\n' "$target" "${ran:-?}" "$seconds" \
    "${rate:-?}" "$(field cov)" "$(field ft)" "$(field corp)" "$findings"
if [ "$status" -ne 0 ]; then
    echo "run-long: $target stopped with status $status; see $log and $out/findings" >&2
fi
exit "$status"
