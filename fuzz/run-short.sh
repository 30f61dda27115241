#!/usr/bin/env bash
# The short run of one fuzz target that the tests make: run-short.sh TARGET FUZZER-PROGRAM
#
# Starts from the seed corpus with a fixed seed, so that a run is repeatable, and stops after
# the target's count of executions or 15 seconds, whichever comes first. New inputs go to a
# scratch directory (the seed corpus in the repository is never written); a finding is kept in
# fuzz-findings/ of the build tree and fails the test.
set -euo pipefail

. "$(dirname "$0")/fuzz-options.sh"

target=$1
fuzzer=$2
fuzz_target_options "$target"

scratch=$(mktemp -d "${TMPDIR:-/tmp}/nimbrel-fuzz-$target.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
findings=$PWD/fuzz-findings
mkdir -p "$findings"

"$fuzzer" "${FUZZ_OPTIONS[@]}" -seed=1 -runs="$FUZZ_SHORT_RUNS" -max_total_time=15 \
    -print_final_stats=1 -artifact_prefix="$findings/$target-" "$scratch" "$FUZZ_CORPUS"
