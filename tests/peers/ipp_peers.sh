#!/bin/bash
# Real IPP peers on loopback for the Nimbrel tests: a DNS-SD daemon (needed by ippeveprinter), the
# CUPS ippeveprinter (a real IPP Everywhere printer) and tinyproxy (a real HTTP proxy).
# Everything listens on 127.0.0.1 only; every wait is bounded.
#
# Run as a command:
#   tests/peers/ipp_peers.sh start-avahi
#   tests/peers/ipp_peers.sh start-ippeveprinter PORT SPOOLDIR [NAME]
#   tests/peers/ipp_peers.sh printer-state PORT       # prints printer-state and reasons (ipptool)
#   tests/peers/ipp_peers.sh stop-ippeveprinter PORT
#   tests/peers/ipp_peers.sh start-tinyproxy PORT
#   tests/peers/ipp_peers.sh stop-tinyproxy PORT
#   tests/peers/ipp_peers.sh free-port                # prints a free TCP port of 127.0.0.1
#   tests/peers/ipp_peers.sh status
#   tests/peers/ipp_peers.sh stop-all
# or source it and call the peers_* functions of the same names (start-avahi: peers_start_avahi).
#
# The printer's URI is ipp://127.0.0.1:PORT/ipp/print; with -k it keeps each received document in
# SPOOLDIR as <job-id>-<job-name>.<ext>. The proxy forwards absolute-form requests
# (POST http://127.0.0.1:PORT/ipp/print HTTP/1.0) to the printer named in them; it has no upstream.
#
# State (pid files, logs, generated configs) lives in $NIMBREL_PEERS_STATE (default
# /tmp/nimbrel-peers-UID). Several test runs can use the one DNS-SD daemon: each run's state
# directory registers as a user of it, and stop-all stops the daemon (and the system bus) only
# when this script started them and no registered run is left. Give parallel runs different
# NIMBREL_PEERS_STATE values.
#
# Exit status: 0 on success; 1 with a message on stderr saying what failed and where the log is.

PEERS_STATE=${NIMBREL_PEERS_STATE:-/tmp/nimbrel-peers-$(id -u)}
PEERS_SHARED=${NIMBREL_PEERS_SHARED:-/tmp/nimbrel-peers-shared-$(id -u)}
PEERS_WAIT_S=${NIMBREL_PEERS_WAIT_S:-20}
PEERS_FORMATS=application/octet-stream,application/pdf,application/postscript

peers_fail() {
    echo "ipp_peers: $*" >&2
    return 1
}

# peers_wait SECONDS COMMAND...: runs COMMAND every 0.2 s until it succeeds; 1 after SECONDS.
peers_wait() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    while :; do
        "$@" >/dev/null 2>&1 && return 0
        [ "$SECONDS" -ge "$end" ] && return 1
        sleep 0.2
    done
}

peers_alive() {
    [ -n "$1" ] && kill -0 "$1" 2>/dev/null
}

peers_pid_of() {
    [ -f "$1" ] && cat "$1" 2>/dev/null
}

peers_check_port() {
    case "$1" in
        '' | *[!0-9]*) peers_fail "bad port '$1'" ;;
        *) if [ "$1" -lt 1 ] || [ "$1" -gt 65535 ]; then peers_fail "port $1 out of range"; fi ;;
    esac
}

peers_port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

# Stops one process we started (by its pid file): TERM, then KILL after 5 s.
peers_stop_pidfile() {
    local file=$1 pid
    pid=$(peers_pid_of "$file")
    if peers_alive "$pid"; then
        kill -TERM "$pid" 2>/dev/null
        if ! peers_wait 5 bash -c "! kill -0 $pid"; then
            kill -KILL "$pid" 2>/dev/null
            peers_wait 2 bash -c "! kill -0 $pid"
        fi
    fi
    rm -f "$file"
}

peers_free_port() {
    python3 -c 'import socket
s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1]); s.close()'
}

# Each run (state directory) registers as a user of the shared daemons by a file named after
# its path's hash and holding the path.
peers_user_file() {
    echo "$PEERS_SHARED/users/$(printf '%s' "$PEERS_STATE" | md5sum | cut -c1-16)"
}

# --- system bus and DNS-SD daemon -----------------------------------------------------------

peers_start_dbus() {
    local pid
    pid=$(peers_pid_of /run/dbus/pid)
    if [ -S /run/dbus/system_bus_socket ] && peers_alive "$pid"; then
        return 0
    fi
    rm -f /run/dbus/pid /run/dbus/system_bus_socket
    mkdir -p /run/dbus
    pid=$(dbus-daemon --system --fork --print-pid 2>"$PEERS_SHARED/dbus.log" 9>&-) ||
        peers_fail "dbus-daemon --system did not start (see $PEERS_SHARED/dbus.log)" || return 1
    echo "$pid" >"$PEERS_SHARED/dbus.pid"
    peers_wait "$PEERS_WAIT_S" test -S /run/dbus/system_bus_socket ||
        peers_fail "the system bus socket did not appear within ${PEERS_WAIT_S} s" || return 1
}

peers_write_avahi_conf() {
    cat >"$1" <<'EOF'
# Loopback only: nothing is announced on, or read from, a real network.
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
enable-dbus=yes
ratelimit-interval-usec=1000000
ratelimit-burst=1000

[wide-area]
enable-wide-area=no

[publish]
publish-addresses=no
publish-hinfo=no
publish-workstation=no
publish-domain=no
publish-aaaa-on-ipv4=no
publish-a-on-ipv6=no

[reflector]
enable-reflector=no

[rlimits]
EOF
}

peers_start_avahi_locked() {
    peers_start_dbus || return 1
    if avahi-daemon -c 2>/dev/null; then
        return 0 # running already (ours or another run's)
    fi
    local conf=$PEERS_SHARED/avahi-daemon.conf pid
    peers_write_avahi_conf "$conf"
    rm -f /run/avahi-daemon/pid
    setsid avahi-daemon -f "$conf" --no-drop-root --no-chroot --no-rlimits \
        </dev/null >"$PEERS_SHARED/avahi.log" 2>&1 9>&- &
    pid=$!
    echo "$pid" >"$PEERS_SHARED/avahi.pid"
    if ! peers_wait "$PEERS_WAIT_S" avahi-daemon -c || ! peers_alive "$pid"; then
        peers_fail "avahi-daemon did not come up within ${PEERS_WAIT_S} s;" \
            "log $PEERS_SHARED/avahi.log:"
        tail -n 20 "$PEERS_SHARED/avahi.log" >&2
        return 1
    fi
}

# Idempotent: starts the system bus and avahi-daemon when they are not running. The daemons must
# not inherit the lock's descriptor (9), or the lock would stay held for their whole life.
peers_start_avahi() {
    mkdir -p "$PEERS_STATE" "$PEERS_SHARED/users" || return 1
    (
        flock -w "$PEERS_WAIT_S" 9 || peers_fail "cannot lock $PEERS_SHARED/lock" || exit 1
        printf '%s\n' "$PEERS_STATE" >"$(peers_user_file)"
        peers_start_avahi_locked
    ) 9>"$PEERS_SHARED/lock"
}

# Stops avahi and the bus when this script started them and no run uses them any more.
peers_release_avahi() {
    [ -d "$PEERS_SHARED" ] || return 0
    (
        flock -w "$PEERS_WAIT_S" 9 || peers_fail "cannot lock $PEERS_SHARED/lock" || exit 1
        rm -f "$(peers_user_file)"
        local u
        for u in "$PEERS_SHARED"/users/*; do
            [ -e "$u" ] || continue
            [ -d "$(cat "$u")" ] || rm -f "$u" # a run whose state directory is gone
        done
        if [ -z "$(ls -A "$PEERS_SHARED/users" 2>/dev/null)" ]; then
            peers_stop_pidfile "$PEERS_SHARED/avahi.pid"
            local pid
            pid=$(peers_pid_of "$PEERS_SHARED/dbus.pid")
            if [ -n "$pid" ]; then
                peers_stop_pidfile "$PEERS_SHARED/dbus.pid"
                rm -f /run/dbus/system_bus_socket /run/dbus/pid
            fi
        fi
    ) 9>"$PEERS_SHARED/lock"
}

# --- ippeveprinter --------------------------------------------------------------------------

peers_state_test_file() {
    local f=$PEERS_STATE/printer-state.test
    [ -f "$f" ] && { echo "$f"; return 0; }
    cat >"$f" <<'EOF'
{
    NAME "printer-state"
    OPERATION Get-Printer-Attributes
    GROUP operation-attributes-tag
    ATTR charset attributes-charset utf-8
    ATTR naturalLanguage attributes-natural-language en
    ATTR uri printer-uri $uri
    ATTR keyword requested-attributes printer-state,printer-state-reasons,printer-make-and-model
    STATUS successful-ok
    EXPECT printer-state
    DISPLAY printer-state
    DISPLAY printer-state-reasons
    DISPLAY printer-make-and-model
}
EOF
    echo "$f"
}

peers_printer_answers() {
    ipptool -q -T 3 "ipp://127.0.0.1:$1/ipp/print" get-printer-attributes.test
}

# Prints the printer's state as ipptool shows it (printer-state, printer-state-reasons, ...).
peers_printer_state() {
    peers_check_port "$1" || return 1
    mkdir -p "$PEERS_STATE" || return 1
    ipptool -T 5 "ipp://127.0.0.1:$1/ipp/print" "$(peers_state_test_file)"
}

peers_start_ippeveprinter() {
    local port=$1 spool=$2 name=${3:-Nimbrel-Test-$1}
    peers_check_port "$port" || return 1
    [ -n "$spool" ] || peers_fail "usage: start-ippeveprinter PORT SPOOLDIR [NAME]" || return 1
    local pidfile=$PEERS_STATE/ippeveprinter-$port.pid log=$PEERS_STATE/ippeveprinter-$port.log
    if peers_alive "$(peers_pid_of "$pidfile")" &&
        peers_printer_answers "$port" >/dev/null 2>&1; then
        return 0 # ours, running and answering
    fi
    peers_port_open "$port" && peers_fail "port $port is already in use" && return 1
    peers_start_avahi || return 1
    mkdir -p "$spool" || return 1
    setsid ippeveprinter -p "$port" -n localhost -d "$spool" -k -f "$PEERS_FORMATS" "$name" \
        </dev/null >"$log" 2>&1 &
    local pid=$!
    echo "$pid" >"$pidfile"
    local end=$((SECONDS + PEERS_WAIT_S))
    while ! peers_printer_answers "$port" >/dev/null 2>&1; do
        if ! peers_alive "$pid"; then
            peers_fail "ippeveprinter on port $port exited; log $log:"
            tail -n 20 "$log" >&2
            rm -f "$pidfile"
            return 1
        fi
        if [ "$SECONDS" -ge "$end" ]; then
            peers_fail "ippeveprinter on port $port did not answer within ${PEERS_WAIT_S} s;" \
                "log $log:"
            tail -n 20 "$log" >&2
            peers_stop_pidfile "$pidfile"
            return 1
        fi
        sleep 0.2
    done
}

peers_stop_ippeveprinter() {
    peers_check_port "$1" || return 1
    peers_stop_pidfile "$PEERS_STATE/ippeveprinter-$1.pid"
}

# --- tinyproxy ------------------------------------------------------------------------------

peers_start_tinyproxy() {
    local port=$1
    peers_check_port "$port" || return 1
    local dir=$PEERS_STATE/tinyproxy-$port
    local pidfile=$PEERS_STATE/tinyproxy-$port.pid
    if peers_alive "$(peers_pid_of "$pidfile")" && peers_port_open "$port"; then
        return 0
    fi
    peers_port_open "$port" && peers_fail "port $port is already in use" && return 1
    mkdir -p "$dir" || return 1
    # No User/Group lines: it runs as the caller. No Upstream: it connects to the host named in
    # each request. Via header left on, as a proxy in the field would send it.
    cat >"$dir/tinyproxy.conf" <<EOF
Port $port
Listen 127.0.0.1
Bind 127.0.0.1
Timeout 600
MaxClients 32
Allow 127.0.0.1
LogFile "$dir/tinyproxy.log"
LogLevel Info
PidFile "$dir/tinyproxy.pid"
EOF
    setsid tinyproxy -d -c "$dir/tinyproxy.conf" </dev/null >"$dir/stderr.log" 2>&1 &
    local pid=$!
    echo "$pid" >"$pidfile"
    local end=$((SECONDS + PEERS_WAIT_S))
    while ! peers_port_open "$port"; do
        if ! peers_alive "$pid"; then
            peers_fail "tinyproxy on port $port exited; logs in $dir:"
            tail -n 20 "$dir/stderr.log" "$dir/tinyproxy.log" >&2 2>/dev/null
            rm -f "$pidfile"
            return 1
        fi
        if [ "$SECONDS" -ge "$end" ]; then
            peers_fail "tinyproxy on port $port did not listen within ${PEERS_WAIT_S} s"
            peers_stop_pidfile "$pidfile"
            return 1
        fi
        sleep 0.2
    done
}

peers_stop_tinyproxy() {
    peers_check_port "$1" || return 1
    peers_stop_pidfile "$PEERS_STATE/tinyproxy-$1.pid"
}

# --- all ------------------------------------------------------------------------------------

peers_status() {
    local f pid
    for f in "$PEERS_STATE"/*.pid "$PEERS_SHARED"/*.pid; do
        [ -e "$f" ] || continue
        pid=$(peers_pid_of "$f")
        if peers_alive "$pid"; then
            echo "$(basename "$f" .pid): running, pid $pid"
        else
            echo "$(basename "$f" .pid): not running (stale pid file)"
        fi
    done
    if avahi-daemon -c 2>/dev/null; then echo "avahi-daemon: answering"; fi
}

peers_stop_all() {
    local f
    for f in "$PEERS_STATE"/ippeveprinter-*.pid "$PEERS_STATE"/tinyproxy-*.pid; do
        [ -e "$f" ] && peers_stop_pidfile "$f"
    done
    peers_release_avahi
}

peers_main() {
    local cmd=$1
    shift
    case "$cmd" in
        start-avahi) peers_start_avahi ;;
        start-ippeveprinter) peers_start_ippeveprinter "$@" ;;
        stop-ippeveprinter) peers_stop_ippeveprinter "$@" ;;
        printer-state) peers_printer_state "$@" ;;
        start-tinyproxy) peers_start_tinyproxy "$@" ;;
        stop-tinyproxy) peers_stop_tinyproxy "$@" ;;
        free-port) peers_free_port ;;
        status) peers_status ;;
        stop-all) peers_stop_all ;;
        *)
            sed -n '2,/^$/p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2
            return 2
            ;;
    esac
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    peers_main "$@"
fi
