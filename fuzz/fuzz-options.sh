# Per fuzz target: its seed corpus, dictionary, largest input and the length of its short run.
# Sourced by run-short.sh and run-long.sh.

fuzz_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Sets FUZZ_CORPUS (the seed corpus in the repository), FUZZ_OPTIONS (libFuzzer options every run
# of the target uses) and FUZZ_SHORT_RUNS (executions of the short run of the tests).
fuzz_target_options() {
    local corpus dict max_len
    case $1 in
    reply_head) corpus=reply_head dict=http max_len=8192 FUZZ_SHORT_RUNS=100000 ;;
    # Readers take up to 20480 bytes before a head must be complete, and more for a body.
    reply_reading) corpus=reply_reading dict=reply max_len=32768 FUZZ_SHORT_RUNS=20000 ;;
    ipp_reply) corpus=ipp_reply dict=ipp max_len=16384 FUZZ_SHORT_RUNS=100000 ;;
    printer_uri) corpus=printer_uri dict=uri max_len=4096 FUZZ_SHORT_RUNS=40000 ;;
    # Names longer than a port record holds need more than 1024 bytes.
    port_info_pack | port_info_pack_wide)
        corpus=port_info_pack dict="" max_len=8192 FUZZ_SHORT_RUNS=40000 ;;
    *)
        echo "unknown fuzz target: $1" >&2
        return 1
        ;;
    esac
    FUZZ_CORPUS=$fuzz_top/fuzz/corpus/$corpus
    # A single input that runs for 10 s is a hang, as far as the monitor is concerned.
    FUZZ_OPTIONS=(-max_len="$max_len" -timeout=10 -rss_limit_mb=2048)
    if [ -n "$dict" ]; then
        FUZZ_OPTIONS+=(-dict="$fuzz_top/fuzz/dict/$dict.dict")
    fi
}
