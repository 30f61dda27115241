#!/usr/bin/env bash
# Runs the benchmarks and writes their table to bench/results.md (run by ./nimbrel bench, which
# builds the two benchmark trees first).
#
#   bench/run.sh [--quick] [--only NAME[,NAME...]]
#
#   NAME: platform-free, stream, spool, memory, latency, probe, enum, scale, end-to-end
#   --quick   smaller jobs and fewer rounds: a check that everything runs, not figures to publish
#
# Everything runs on 127.0.0.1: a discarding printer of our own (build/bench-native/nimsink), the
# scriptable fake printer and ippeveprinter (tests/tools/with-peers). Under Wine the program and
# its wineserver share CPU 0 (a send costs round trips to the wineserver, see the README); the
# sink runs on the other CPU. Each figure that has a reference is measured beside it in the same
# run, alternating, and reported as a ratio: these machines are shared and noisy.
#
# Environment: NIMBREL_BENCH_NATIVE, NIMBREL_BENCH_WIN (the build trees; default build/bench-*),
# NIMBREL_BENCH_OUT (the table; default bench/results.md).
set -uo pipefail

here=$(cd "$(dirname "$0")" && pwd)
top=$(cd "$here/.." && pwd)
native=${NIMBREL_BENCH_NATIVE:-$top/build/bench-native}
win=${NIMBREL_BENCH_WIN:-$top/build/bench-win64}
out=${NIMBREL_BENCH_OUT:-$here/results.md}

quick=0
only=""
inside=0
while [ $# -gt 0 ]; do
    case "$1" in
    --quick) quick=1 ;;
    --only) shift; only=",${1:-},";;
    __inside) inside=1 ;;
    *) echo "usage: bench/run.sh [--quick] [--only NAME[,NAME...]]" >&2; exit 2 ;;
    esac
    shift
done

wanted() { [ -z "$only" ] || [[ "$only" == *",$1,"* ]]; }
say() { printf '== %s\n' "$*" >&2; }

# Sizes and rounds (bounded: every loop below ends).
if [ $quick = 1 ]; then
    JOB_MIB=16 ROUNDS=3 PROBE_MIB=8 PROBE_ROUNDS=1 SCALE_PORTS=50 SCALE_SECONDS=25 \
        ENUM_PORTS=200 E2E_MIB=8 E2E_ROUNDS=1 LATENCY_ROUNDS=10
else
    JOB_MIB=100 ROUNDS=5 PROBE_MIB=50 PROBE_ROUNDS=3 SCALE_PORTS=500 SCALE_SECONDS=70 \
        ENUM_PORTS=1000 E2E_MIB=100 E2E_ROUNDS=3 LATENCY_ROUNDS=50
fi

# --- Outside the peers: machine, native benchmarks, then the rest inside with-peers ------------

if [ $inside = 0 ]; then
    for f in "$native/nimsink" "$native/platform_free_bench" "$win/bin/nimbench.exe" \
        "$win/bin/nimmonnt.dll"; do
        [ -e "$f" ] || { echo "bench: $f is missing (build with ./nimbrel bench)" >&2; exit 2; }
    done
    results=$(mktemp -d /tmp/nimbrel-bench.XXXXXX)
    export NIMBREL_BENCH_RESULTS=$results
    {
        echo "date $(date -u '+%Y-%m-%d %H:%M UTC')"
        echo "nproc $(nproc)"
        echo "cpu $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')"
        echo "memory_gib $(awk '/MemTotal/ {printf "%.0f", $2 / 1048576}' /proc/meminfo)"
        echo "wine $(wine --version 2>/dev/null | head -n 1)"
        echo "kernel $(uname -r)"
        echo "os $(. /etc/os-release && echo "$PRETTY_NAME")"
        echo "load_before $(cut -d' ' -f1-3 /proc/loadavg)"
        echo "quick $quick"
    } >"$results/machine.txt"

    if wanted platform-free; then
        say "platform-free code, natively (Google Benchmark)"
        "$native/platform_free_bench" --benchmark_repetitions=$((quick ? 1 : 5)) \
            --benchmark_min_time=$((quick ? 0 : 1)).2 \
            --benchmark_report_aggregates_only=true \
            --benchmark_out="$results/platform_free.json" --benchmark_out_format=json \
            >"$results/platform_free.log" 2>&1 || { cat "$results/platform_free.log" >&2; exit 1; }
    fi

    args=()
    [ $quick = 1 ] && args+=(--quick)
    [ -n "$only" ] && args+=(--only "${only:1:-1}")
    "$top/tests/tools/with-peers" --fake --ippeve -- "$0" "${args[@]}" __inside
    rc=$?
    echo "load_after $(cut -d' ' -f1-3 /proc/loadavg)" >>"$results/machine.txt"
    python3 "$here/report.py" "$results" "$out" || rc=1
    if [ $rc -eq 0 ]; then
        rm -rf "$results"
        say "table written to $out"
    else
        say "some benchmarks failed; their output is kept in $results"
    fi
    exit $rc
fi

# --- Inside with-peers: the Wine benchmarks -------------------------------------------------------

results=$NIMBREL_BENCH_RESULTS
. "$top/tests/tools/wine-prefix.sh"
nimbrel_wine_template || exit 1
export WINEDEBUG=-all

prefixes=() sink_pid=""
cleanup() {
    [ -n "$sink_pid" ] && kill "$sink_pid" 2>/dev/null
    local p
    for p in "${prefixes[@]}"; do nimbrel_wine_discard_prefix "$p"; done
}
trap cleanup EXIT

# A fresh prefix with a persistent wineserver on CPU 0: sets prefix_path and server_pid.
start_prefix() {
    local prefix
    prefix=$(nimbrel_wine_fresh_prefix) || return 1
    prefixes+=("$prefix")
    WINEPREFIX="$prefix" taskset -c 0 wineserver -f -p >/dev/null 2>&1 </dev/null &
    server_pid=$!
    # Wine's programs find the server by its socket, named after the prefix's device and inode
    # (under /tmp/.wine-UID, or a /tmp/wine-XXXXXX of Debian's build): wait for it, or the first
    # program would start a server of its own.
    local name socket=""
    name=$(printf 'server-%x-%x' "$(stat -c %d "$prefix")" "$(stat -c %i "$prefix")")
    for _ in $(seq 100); do
        socket=$(ls /tmp/.wine-"$(id -u)"/"$name"/socket /tmp/wine-*/"$name"/socket 2>/dev/null |
            head -n 1)
        [ -n "$socket" ] && break
        sleep 0.1
    done
    [ -n "$socket" ] || { echo "bench: the wineserver of $prefix did not start" >&2; return 1; }
    prefix_path=$prefix
}

# The fake printer's control endpoint.
control() {
    python3 -c 'import sys, urllib.request
req = urllib.request.Request(sys.argv[1], method=sys.argv[2])
sys.stdout.write(urllib.request.urlopen(req, timeout=60).read().decode())' \
        "http://127.0.0.1:$NIMBREL_FAKE_PRINTER_PORT/_control/$1" "$2"
}

# nimbench under Wine on CPU 0; its output (result lines) goes to a file, never a pipe.
nimbench() {
    local name=$1
    shift
    local status=0
    WINEPREFIX="$prefix_path" taskset -c 0 wine "$win/bin/nimbench.exe" "$@" \
        >"$results/$name.txt" 2>"$results/$name.err" </dev/null || status=$?
    if [ $status -ne 0 ]; then
        echo "bench: nimbench $* failed ($status):" >&2
        cat "$results/$name.err" >&2
        echo "failed $status" >>"$results/$name.txt"
    fi
    return $status
}

failed=0
start_prefix || exit 1
job_prefix=$prefix_path

# The discarding printer, on the other CPU.
rm -f "$results/sink.port"
taskset -c 1 "$native/nimsink" --ready-file "$results/sink.port" \
    --attributes "$top/tests/peers/captures/ippeveprinter-get-printer-attributes.bin" \
    --lifetime 3600 >"$results/sink.log" 2>&1 &
sink_pid=$!
for _ in $(seq 50); do [ -s "$results/sink.port" ] && break; sleep 0.1; done
sink=$(cat "$results/sink.port" 2>/dev/null) || { echo "bench: the sink did not start" >&2; exit 1; }

if wanted stream; then
    say "streaming mode: WritePort of $JOB_MIB MiB vs a bare loop of 4096-byte sends"
    nimbench stream stream "$sink" "$JOB_MIB" "$ROUNDS" || failed=1
fi
if wanted spool; then
    say "spool-file mode: WritePort of $JOB_MIB MiB and EndDocPort vs a bare loop of 64 KiB sends"
    nimbench spool spool "$sink" "$JOB_MIB" "$ROUNDS" || failed=1
fi
if wanted memory; then
    say "memory: peak working set of a 1 MiB and a $JOB_MIB MiB job, each mode"
    for mode in stream spool; do
        for mib in 1 "$JOB_MIB"; do
            # Each job in a process of its own (a peak is for the whole process), twice.
            for run in 1 2; do
                nimbench "memory-$mode-$mib-$run" memory "$sink" "$mode" "$mib" || failed=1
            done
        done
    done
fi
if wanted latency; then
    say "latency: StartDocPort vs a bare request of the same size"
    nimbench latency latency "$sink" "$LATENCY_ROUNDS" || failed=1
fi
if wanted probe; then
    say "probe: the bare loop with one of the monitor's costs added at a time"
    nimbench probe probe "$sink" "$PROBE_MIB" "$PROBE_ROUNDS" || failed=1
fi
if wanted enum; then
    say "EnumPorts with $ENUM_PORTS ports vs a bare registry walk"
    # A prefix of its own: the ports stored here would slow the other benchmarks' registry.
    start_prefix || exit 1
    nimbench enum enum "$ENUM_PORTS" "$((quick ? 3 : 10))" || failed=1
fi
if wanted scale; then
    say "scale: $SCALE_PORTS open ports polling the fake printer every 20 s, for $SCALE_SECONDS s"
    start_prefix || exit 1
    fake=$NIMBREL_FAKE_PRINTER_PORT
    control reset POST >/dev/null
    nimbench scale scale "$fake" "$SCALE_PORTS" "$SCALE_SECONDS" "Z:\\proc\\$server_pid\\stat" ||
        failed=1
    control records GET >"$results/scale-records.json"
fi

if wanted end-to-end; then
    say "end to end: $E2E_MIB MiB through Wine's spooler and the monitor into ippeveprinter, vs ipptool"
    start_prefix || exit 1
    printer=$NIMBREL_IPP_PRINTER_PORT
    uri="ipp://127.0.0.1:$printer/ipp/print"
    printer_pid=$(cat "$NIMBREL_PEERS_STATE/ippeveprinter-$printer.pid")
    document=$results/document.ps
    python3 - "$document" "$E2E_MIB" <<'EOF'
import sys
# A PostScript document: ippeveprinter takes only data it recognises.
path, mib = sys.argv[1], int(sys.argv[2])
line = b"% Nimbrel benchmark document, a line of filler for a large job.\n"
size = mib * 1024 * 1024
head, tail = b"%!PS-Adobe-3.0\n", b"%%EOF\n"
body = size - len(head) - len(tail)
with open(path, "wb") as f:
    f.write(head)
    f.write((line * (body // len(line) + 1))[:body])
    f.write(tail)
EOF
    idle() {
        # The printer "prints" each job for a while; every run starts against an idle printer.
        local i
        for i in $(seq 120); do
            ipptool -tv -T 5 "$uri" get-printer-attributes.test 2>/dev/null |
                grep -q 'printer-state (enum) = idle' && return 0
            sleep 1
        done
        echo "bench: the printer did not become idle" >&2
        return 1
    }
    nimbench e2e-setup spooler-setup "$win/bin/nimmonnt.dll" "$uri" || failed=1
    for round in $(seq "$E2E_ROUNDS"); do
        # Through the spooler, the monitor alone (no spooler) and ipptool, each against an idle
        # printer.
        for who in monitor direct ipptool; do
            idle || { failed=1; break 2; }
            rm -f "$NIMBREL_IPP_SPOOL_DIR"/*
            if [ $who = monitor ]; then
                nimbench "e2e-monitor-$round" spooler-print "$document" \
                    "Z:\\proc\\$server_pid\\stat" "Z:\\proc\\$printer_pid\\stat" || failed=1
            elif [ $who = direct ]; then
                nimbench "e2e-direct-$round" job "$uri" "$E2E_MIB" \
                    "Z:\\proc\\$server_pid\\stat" "Z:\\proc\\$printer_pid\\stat" || failed=1
                rm -f "$NIMBREL_IPP_SPOOL_DIR"/*
                continue # its document is the benchmark's own pattern, not the file
            else
                cpu0=$(awk '{print $14 + $15}' "/proc/$printer_pid/stat")
                t0=$(date +%s%N)
                /usr/bin/time -f 'ipptool_cpu_s %U %S' -o "$results/e2e-ipptool-$round.time" \
                    ipptool -T 600 -f "$document" -d filetype=application/postscript "$uri" \
                    print-job.test >"$results/e2e-ipptool-$round.log" 2>&1 || failed=1
                t1=$(date +%s%N)
                cpu1=$(awk '{print $14 + $15}' "/proc/$printer_pid/stat")
                {
                    echo "wall_s $(awk "BEGIN {print ($t1 - $t0) / 1e9}")"
                    cat "$results/e2e-ipptool-$round.time"
                    echo "printer_cpu_s $(awk "BEGIN {print ($cpu1 - $cpu0) / 100}")"
                } >"$results/e2e-ipptool-$round.txt"
            fi
            stored=$(ls "$NIMBREL_IPP_SPOOL_DIR" 2>/dev/null | head -n 1)
            if [ -z "$stored" ] || ! cmp -s "$document" "$NIMBREL_IPP_SPOOL_DIR/$stored"; then
                echo "bench: the printer did not receive the document intact ($who)" >&2
                failed=1
            fi
        done
    done
    rm -f "$NIMBREL_IPP_SPOOL_DIR"/* "$document"
fi

exit $failed
