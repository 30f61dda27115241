#!/bin/bash
# End-to-end check of the real peers: ippeveprinter answers ipptool and keeps a streamed document
# byte for byte, tinyproxy forwards a Content-Length Print-Job to the fake printer, and stop-all
# ends what was started. Uses a state directory of its own; everything on 127.0.0.1.
#
#   tests/peers/test_ipp_peers.sh        exit 0 when every check passed

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
export NIMBREL_PEERS_STATE
NIMBREL_PEERS_STATE=$(mktemp -d /tmp/nimbrel-peers-check.XXXXXX) || exit 1
# shellcheck source=ipp_peers.sh
source "$HERE/ipp_peers.sh"

WORK=$NIMBREL_PEERS_STATE/work
mkdir -p "$WORK"
FAKE_PID=
FAILS=0

cleanup() {
    [ -n "$FAKE_PID" ] && kill "$FAKE_PID" 2>/dev/null && wait "$FAKE_PID" 2>/dev/null
    peers_stop_all
    rm -rf "$NIMBREL_PEERS_STATE"
}
trap cleanup EXIT

check() {
    local what=$1
    shift
    if "$@"; then
        echo "PASS: $what"
    else
        echo "FAIL: $what"
        FAILS=$((FAILS + 1))
    fi
}

# --- ippeveprinter ---
PP=$(peers_free_port)
check "ippeveprinter starts on 127.0.0.1:$PP" peers_start_ippeveprinter "$PP" "$WORK/spool"
peers_printer_state "$PP" >"$WORK/state.txt" 2>&1
check "ipptool reads printer-state idle" grep -q '^idle  *none  *Example Printer' "$WORK/state.txt"
cat "$WORK/state.txt"
loopback_only() { # listening addresses of port $1: 127.0.0.1 among them, nothing but loopback
    local addrs
    addrs=$(ss -ltnH "sport = :$1" | awk '{print $4}')
    echo "$addrs" | grep -qx "127\.0\.0\.1:$1" &&
        ! echo "$addrs" | grep -vqE '^(127\.0\.0\.1|\[::1\]):'
}
check "the printer listens on loopback only" loopback_only "$PP"

{
    printf '%%!PS-Adobe-3.0\n'
    head -c 3000 /dev/urandom | od -An -tx1 | tr -d ' \n'
    printf '\n%%%%EOF\n'
} >"$WORK/doc.ps"
check "a chunked Print-Job is accepted" \
    python3 "$HERE/ipp_client.py" print-job "ipp://127.0.0.1:$PP/ipp/print" "$WORK/doc.ps" --chunked
spooled_file() { ls "$WORK"/spool/*.ps 2>/dev/null | head -n 1; }
peers_wait 10 test -n "$(spooled_file)"
peers_wait 10 cmp -s "$(spooled_file)" "$WORK/doc.ps"
check "the spooled document is byte-identical" cmp "$(spooled_file)" "$WORK/doc.ps"

# --- fake printer behind tinyproxy ---
python3 "$HERE/fake_printer.py" --port 0 --record "$WORK/rec" --ready-file "$WORK/fake.port" \
    --quiet --lifetime 300 &
FAKE_PID=$!
peers_wait 10 test -s "$WORK/fake.port"
FP=$(cat "$WORK/fake.port")
TP=$(peers_free_port)
check "tinyproxy starts on 127.0.0.1:$TP" peers_start_tinyproxy "$TP"
check "tinyproxy listens on loopback only" loopback_only "$TP"
check "the fake printer listens on loopback only" loopback_only "$FP"
head -c 5000 /dev/urandom >"$WORK/doc.bin"
check "a Print-Job through tinyproxy reaches the fake printer" \
    python3 "$HERE/ipp_client.py" print-job "ipp://127.0.0.1:$FP/ipp/print" "$WORK/doc.bin" \
    --proxy "127.0.0.1:$TP"
check "the fake printer recorded the document unchanged" cmp "$WORK/rec/0001.doc" "$WORK/doc.bin"
check "the proxy sent an origin-form request line" \
    grep -q '^POST /ipp/print HTTP/1\.[01]' "$WORK/rec/0001.head"
check "a Get-Printer-Attributes through tinyproxy reaches ippeveprinter" \
    python3 "$HERE/ipp_client.py" get-printer-attributes "ipp://127.0.0.1:$PP/ipp/print" \
    --proxy "127.0.0.1:$TP"

# --- stop ---
PRINTER_PID=$(peers_pid_of "$NIMBREL_PEERS_STATE/ippeveprinter-$PP.pid")
PROXY_PID=$(peers_pid_of "$NIMBREL_PEERS_STATE/tinyproxy-$TP.pid")
peers_stop_all
check "stop-all ends ippeveprinter and tinyproxy" \
    bash -c "! kill -0 $PRINTER_PID 2>/dev/null && ! kill -0 $PROXY_PID 2>/dev/null"

echo "$FAILS check(s) failed"
[ "$FAILS" -eq 0 ]
