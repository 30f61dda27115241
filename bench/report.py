#!/usr/bin/env python3
"""Turns the raw results of bench/run.sh into the table of bench/results.md.

    python3 bench/report.py RESULTS-DIR OUT.md

Every nimbench result file holds "name value" lines (lines starting with '#' are remarks); the
platform-free figures are Google Benchmark's JSON. A benchmark that did not run leaves its rows
out; one that failed shows as failed.
"""
import glob
import json
import os
import statistics
import sys

MIB = 1024 * 1024


def read_pairs(path):
    pairs = {}
    if not os.path.exists(path):
        return None
    with open(path) as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, _, value = line.partition(" ")
            try:
                pairs[name] = float(value)
            except ValueError:
                pairs[name] = value
    return pairs


def remarks(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [line[1:].strip() for line in f if line.startswith("#")]


def fmt(value, digits=2):
    if value is None:
        return "-"
    if abs(value) >= 100:
        return "%.0f" % value
    return ("%." + str(digits) + "f") % value


def yes_no(ok):
    return "**met**" if ok else "**missed**"


def failed(pairs):
    return pairs is None or "failed" in pairs


def throughput_row(number, what, pairs, reference, target):
    if pairs is None:
        return None
    if failed(pairs):
        return "| %s | %s | failed | | | | |" % (number, what)
    ratio = pairs["ratio"]
    return "| %s | %s | %s MB/s | %s: %s MB/s | %s (%s to %s over %d rounds) | >= %s | %s |" % (
        number, what, fmt(pairs["monitor_mbps"], 1), reference, fmt(pairs["bare_mbps"], 1),
        fmt(ratio), fmt(pairs["ratio_min"]), fmt(pairs["ratio_max"]), pairs["rounds"],
        fmt(target, 1), yes_no(ratio >= target))


def memory_figures(results, job_mib):
    """Per mode: (peak of the small job, peak of the large job), each the lower of two runs."""
    figures = {}
    for mode in ("stream", "spool"):
        peaks = {}
        for mib in (1, job_mib):
            values = []
            for path in glob.glob(os.path.join(results, "memory-%s-%d-*.txt" % (mode, mib))):
                pairs = read_pairs(path)
                if not failed(pairs):
                    values.append(pairs["peak_working_set"])
            if values:
                peaks[mib] = min(values)
        if len(peaks) == 2:
            figures[mode] = (peaks[1], peaks[job_mib])
    return figures


def platform_free_rows(results):
    path = os.path.join(results, "platform_free.json")
    if not os.path.exists(path):
        return []
    with open(path) as f:
        data = json.load(f)
    names = {
        "BM_PrintJobHeadAndBody": "Print-Job head and body (streamed job: head, IPP request as first chunk)",
        "BM_FrameChunks/4096": "chunk framing of a 4096-byte WritePort piece",
        "BM_FrameChunks/65536": "chunk framing of 64 KiB",
        "BM_ParseReplyHead": "ParseReplyHead (a real printer's 320-byte head)",
        "BM_ParseIppReply7K": "ParseIppReply, 7 KiB reply (ippeveprinter's Get-Printer-Attributes)",
        "BM_ParseIppReply60K": "ParseIppReply, 60 KiB reply (the same with a long media list)",
    }
    best = {}
    for b in data.get("benchmarks", []):
        name = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        best[name] = b
    rows = []
    for key, label in names.items():
        b = best.get(key)
        if b is None:
            continue
        scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b.get("time_unit", "ns")]
        ns = b["cpu_time"] * scale
        rate = ""
        if "bytes_per_second" in b:
            rate = "%.2f GB/s" % (b["bytes_per_second"] / 1e9)
        rows.append("| %s | %s | %s |" % (label, fmt(ns, 0), rate))
    return rows


def scale_timing(results):
    """Intervals between the polls of each port, from the fake printer's records."""
    path = os.path.join(results, "scale-records.json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        records = json.load(f)
    times = {}
    for r in records:
        times.setdefault(r.get("target", ""), []).append(r["time"])
    intervals, firsts = [], []
    for target, stamps in times.items():
        stamps.sort()
        firsts.append(stamps[0])
        intervals += [b - a for a, b in zip(stamps, stamps[1:])]
    if not intervals:
        return None
    return {
        "ports_seen": len(times),
        "polls": len(records),
        "median": statistics.median(intervals),
        "max": max(intervals),
        "late": sum(1 for i in intervals if i > 21.0),
        "intervals": len(intervals),
        "first_spread": max(firsts) - min(firsts),
    }


def main():
    results, out = sys.argv[1], sys.argv[2]
    machine = read_pairs(os.path.join(results, "machine.txt")) or {}
    with open(os.path.join(results, "machine.txt")) as f:
        text = {l.split(" ", 1)[0]: l.split(" ", 1)[1].strip() for l in f if " " in l}
    quick = text.get("quick", "0") == "1"

    stream = read_pairs(os.path.join(results, "stream.txt"))
    spool = read_pairs(os.path.join(results, "spool.txt"))
    latency = read_pairs(os.path.join(results, "latency.txt"))
    probe = read_pairs(os.path.join(results, "probe.txt"))
    enum = read_pairs(os.path.join(results, "enum.txt"))
    scale = read_pairs(os.path.join(results, "scale.txt"))
    job_mib = int((stream or spool or {}).get("mib", 100)) if not (failed(stream) and failed(spool)) else 100
    memory = memory_figures(results, job_mib)
    timing = scale_timing(results)

    e2e = []
    for path in sorted(glob.glob(os.path.join(results, "e2e-monitor-*.txt"))):
        round_ = path.rsplit("-", 1)[1][:-4]
        m = read_pairs(path)
        i = read_pairs(os.path.join(results, "e2e-ipptool-%s.txt" % round_))
        d = read_pairs(os.path.join(results, "e2e-direct-%s.txt" % round_))
        if failed(m) or i is None or "wall_s" not in i:
            continue
        if isinstance(i.get("ipptool_cpu_s"), str):
            i["ipptool_cpu_s"] = sum(float(x) for x in i["ipptool_cpu_s"].split())
        e2e.append((m, i, None if failed(d) else d))

    lines = []
    w = lines.append
    w("# Benchmark results")
    w("")
    w("Measured %s with `./nimbrel bench`%s." % (text.get("date", "?"),
                                                " --quick (a check run, not figures to publish)" if quick else ""))
    w("")
    w("Machine: %s, %s CPUs (nproc), %s GiB; %s, kernel %s; %s. Load average before and after "
      "the run: %s / %s (the machine is shared with other work: compare the ratios, each measured "
      "side by side in one run, not the absolute figures)." % (
          text.get("cpu", "?"), text.get("nproc", "?"), text.get("memory_gib", "?"),
          text.get("os", "?"), text.get("kernel", "?"), text.get("wine", "?"),
          text.get("load_before", "?"), text.get("load_after", "?")))
    w("")
    w("Under Wine the benchmark program and its wineserver share CPU 0, the discarding printer "
      "runs on CPU 1. Ratios are medians of the per-round ratios; rounds alternate which side "
      "goes first.")
    w("")
    w("| # | What | Nimbrel | Reference | Ratio | Target | |")
    w("|---|---|---|---|---|---|---|")
    row = throughput_row(1, "Streaming: WritePort of %d MiB in 4096-byte pieces" % job_mib, stream,
                         "bare Winsock loop, 4096-byte sends", 0.5)
    if row:
        w(row)
    row = throughput_row(2, "Spool file: WritePort of %d MiB, then EndDocPort" % job_mib, spool,
                         "bare Winsock loop, 64 KiB sends", 0.5)
    if row:
        w(row)
    if e2e:
        monitor_s = statistics.median(m["total_s"] for m, _, _ in e2e)
        ipptool_s = statistics.median(i["wall_s"] for _, i, _ in e2e)
        ratios = [i["wall_s"] / m["total_s"] for m, i, _ in e2e]
        w("| 3 | End to end: %d MiB through Wine's spooler and the monitor into ippeveprinter | "
          "%s s (%s MB/s) | ipptool Print-Job of the same file: %s s (%s MB/s) | %s (%s to %s over %d rounds) | report | |" % (
              round(e2e[0][0]["bytes"] / MIB), fmt(monitor_s), fmt(e2e[0][0]["bytes"] / monitor_s / 1e6, 1),
              fmt(ipptool_s), fmt(e2e[0][0]["bytes"] / ipptool_s / 1e6, 1), fmt(statistics.median(ratios)),
              fmt(min(ratios)), fmt(max(ratios)), len(e2e)))
    if memory:
        parts, ok = [], True
        for mode, label in (("stream", "streaming"), ("spool", "spool file")):
            if mode in memory:
                small, large = memory[mode]
                parts.append("%s: %+.0f KiB (%.1f MiB vs %.1f MiB)" % (
                    label, (large - small) / 1024, large / MIB, small / MIB))
                ok = ok and abs(large - small) < MIB
        w("| 4 | Memory: peak working set of a %d MiB job minus that of a 1 MiB job | %s | | | < 1 MiB | %s |" % (
            job_mib, "; ".join(parts), yes_no(ok)))
    if latency is not None and not failed(latency):
        w("| 5 | Latency: StartDocPort against an idle printer (%d connects, %d sends) | %s ms | "
          "bare request of the status query's %d bytes and its reply: %s ms | %s (time, lower is better) | report | |" % (
              latency["startdoc_connects"], latency["startdoc_sends"], fmt(latency["startdoc_ms"]),
              latency["query_bytes"], fmt(latency["bare_ms"]), fmt(latency["ratio"])))
    if scale is not None and not failed(scale):
        ports = int(scale["ports"])
        w("| 6a | Scale: memory per open port (%d ports, each with its status thread) | %s KiB | "
          "a bare thread under Wine, made the same way: %s KiB | %s | report | |" % (
              ports, fmt(scale["kib_per_port"], 0), fmt(scale["bare_thread_kib"], 0),
              fmt(scale["kib_per_port"] / scale["bare_thread_kib"])))
        w("| 6b | Scale: CPU per poll | %s ms in the monitor's process + %s ms in the wineserver | | | report | |" % (
            fmt(scale["process_cpu_ms_per_poll"]), fmt(scale["server_cpu_ms_per_poll"])))
        if timing:
            w("| 6c | Scale: polls on time (every 20 s after the previous answer) | %d intervals: median %s s, "
              "longest %s s, %d longer than 21 s | | | every poll within 1 s of its time | %s |" % (
                  timing["intervals"], fmt(timing["median"], 3), fmt(timing["max"], 3), timing["late"],
                  "**met**" if timing["late"] == 0 else "%d late" % timing["late"]))
        w("| 6d | Scale: ClosePort, %d ports one after another | %s s in all, median %s ms, longest %s ms | | | report | |" % (
            ports, fmt(scale["close_all_s"]), fmt(scale["close_port_ms"]), fmt(scale["close_port_max_ms"])))
    if enum is not None and not failed(enum):
        w("| 6e | EnumPorts with %d ports, as the spooler calls it (size, then fill) | level 1: %s ms, level 2: %s ms | "
          "bare registry walk (key names and PortName values): %s ms | %s (time, lower is better) | report | |" % (
              enum["ports"], fmt(enum["level1_ms"], 1), fmt(enum["level2_ms"], 1), fmt(enum["bare_ms"], 1),
              fmt(enum["ratio"])))
    w("")

    rows = platform_free_rows(results)
    if rows:
        w("## 7. Platform-free code, natively")
        w("")
        w("Google Benchmark, clang -O3 without sanitizers, CPU time per call (median of 5 repetitions).")
        w("")
        w("| Code | ns per call | Rate |")
        w("|---|---|---|")
        lines.extend(rows)
        w("")

    if not failed(stream) or not failed(spool):
        w("## Calls per MiB under Wine")
        w("")
        w("Counted in the monitor's socket and clock seams during the last job (the bare loops make "
          "one send per piece and no look).")
        w("")
        w("| Mode | send() per MiB | readiness looks (select) per MiB | time in send() | time in looks and reply waits | bare loop send() per MiB |")
        w("|---|---|---|---|---|---|")
        for label, pairs in (("streaming", stream), ("spool file", spool)):
            if pairs is not None and not failed(pairs):
                w("| %s | %s | %s | %s s | %s s | %s |" % (
                    label, fmt(pairs["sends_per_mib"], 1), fmt(pairs["looks_per_mib"], 1),
                    fmt(pairs["send_seconds"]), fmt(pairs["look_seconds"]), fmt(pairs["bare_sends_per_mib"], 0)))
        w("")
        for label, path in (("Streaming", "stream.txt"), ("Spool file", "spool.txt")):
            notes = remarks(os.path.join(results, path))
            if notes:
                w("%s rounds:" % label)
                w("")
                for n in notes:
                    w("- %s" % n)
                w("")

    if probe is not None and not failed(probe):
        w("## Where a transfer's time goes under Wine")
        w("")
        w("The bare loop with one of the monitor's costs added at a time, each beside the plain loop "
          "of the same send size (ratio: plain time / variant time; 1 = free, 0.5 = doubles the time).")
        w("")
        w("| Variant | MB/s | Ratio to the plain loop |")
        w("|---|---|---|")
        labels = [
            ("send_4k", "plain, 4096-byte sends (against itself: the noise)"),
            ("send_4k_look", "4096-byte sends, a 0 ms select after each"),
            ("send_4k_fionread", "4096-byte sends, an ioctlsocket(FIONREAD) after each"),
            ("send_4k_timeouts", "4096-byte sends on a socket with SO_SNDTIMEO/SO_RCVTIMEO"),
            ("send_4k_alloc", "4096-byte sends from a zero-filled heap block per send"),
            ("send_16k", "16 KiB sends (ratio to 4096-byte sends)"),
            ("send_64k", "plain, 64 KiB sends (against itself)"),
            ("send_64k_look", "64 KiB sends, a 0 ms select after each"),
            ("send_64k_file", "64 KiB sends of data read from a file"),
            ("send_64k_file_look", "64 KiB reads from a file, sends and a select after each (the spool-file transfer)"),
            ("file_write_4k", "writing a file in 4096-byte pieces (no socket; ratio to 4096-byte sends)"),
            ("file_write_64k", "writing a file in 64 KiB pieces (no socket; ratio to 64 KiB sends)"),
            ("file_read_64k", "reading a file in 64 KiB pieces (no socket; ratio to 64 KiB sends)"),
        ]
        for key, label in labels:
            if "probe_%s_mbps" % key in probe:
                w("| %s | %s | %s |" % (label, fmt(probe["probe_%s_mbps" % key], 0),
                                        fmt(probe["probe_%s_ratio" % key])))
        if "probe_spool_file_read_s" in probe:
            w("")
            w("A spool file of the probe's size, written in 4096-byte pieces, then read back in 64 KiB "
              "pieces: %s s; deleted: %s s." % (fmt(probe["probe_spool_file_read_s"], 3),
                                                 fmt(probe["probe_spool_file_delete_s"], 3)))
        w("")

    if (spool is not None and not failed(spool) and probe is not None and not failed(probe)
            and "probe_spool_file_read_s" in probe):
        scale_ = job_mib / probe["mib"]
        write_s = job_mib * MIB / (probe["probe_file_write_4k_mbps"] * 1e6)
        read_s = probe["probe_spool_file_read_s"] * scale_
        delete_s = probe["probe_spool_file_delete_s"] * scale_
        bare_s = job_mib * MIB / (spool["bare_mbps"] * 1e6)
        own = write_s + read_s + delete_s
        w("## What stands in the way of the spool-file target")
        w("")
        w("The spool file's own input and output, for %d MiB under Wine: writing it in the spooler's "
          "4096-byte pieces %s s, reading it back in 64 KiB pieces %s s, deleting it %s s; %s s in all, "
          "against %s s for the whole bare loop of 64 KiB sends. Even if sending cost the monitor no "
          "more than the bare loop and the looks for an early answer nothing, the ratio could not "
          "pass %s." % (job_mib, fmt(write_s, 3), fmt(read_s, 3), fmt(delete_s, 3), fmt(own, 3),
                       fmt(bare_s, 3), fmt(bare_s / (bare_s + own))))
        w("")

    if latency is not None and not failed(latency):
        w("## Where StartDocPort's time goes")
        w("")
        w("Medians over %d calls: %s ms inside connect() (both connections), %s ms inside send(), "
          "%s ms waiting for the printer's answer (selects before receives); the settings reload "
          "from the registry alone takes %s ms and the IPP request values %s ms." % (
              latency["rounds"], fmt(latency["startdoc_connect_ms"], 3), fmt(latency["startdoc_send_ms"], 3),
              fmt(latency["startdoc_wait_ms"], 3), fmt(latency["load_settings_ms"], 3),
              fmt(latency["prepare_request_ms"], 3)))
        w("")

    if e2e:
        w("## End to end, phase by phase")
        w("")
        w("Each round against an idle printer: the document printed through Wine's spooler (spooling, "
          "then EndDocPrinter, during which the spooler reads its job file and hands it to the monitor "
          "in 4096-byte pieces); the same number of bytes sent by the monitor's entries alone (no "
          "spooler; StartDocPort included); and ipptool. CPU seconds: our Wine process (spooler, "
          "monitor) / the wineserver / ippeveprinter, or ipptool / ippeveprinter.")
        w("")
        w("| Round | Spooling | EndDocPrinter | CPU in EndDocPrinter | Monitor alone | CPU, monitor alone | ipptool | CPU, ipptool |")
        w("|---|---|---|---|---|---|---|---|")
        for n, (m, i, d) in enumerate(e2e, 1):
            direct = "-"
            direct_cpu = "-"
            if d is not None:
                direct = "%s s" % fmt(d["job_s"])
                direct_cpu = "%s / %s / %s s" % (fmt(d["cpu_process_s"]), fmt(d["cpu_server_s"]),
                                                 fmt(d["cpu_printer_s"]))
            w("| %d | %s s | %s s | %s / %s / %s s | %s | %s | %s s | %s / %s s |" % (
                n, fmt(m["spool_s"]), fmt(m["enddoc_s"]), fmt(m["enddoc_cpu_process_s"]),
                fmt(m["enddoc_cpu_server_s"]), fmt(m["enddoc_cpu_printer_s"]), direct, direct_cpu,
                fmt(i["wall_s"]), fmt(i.get("ipptool_cpu_s")), fmt(i.get("printer_cpu_s"))))
        w("")
        directs = [d["job_s"] for _, _, d in e2e if d is not None]
        if directs and stream is not None and not failed(stream):
            total = monitor_s
            spooling = statistics.median(m["spool_s"] for m, _, _ in e2e)
            enddoc = statistics.median(m["enddoc_s"] for m, _, _ in e2e)
            direct = statistics.median(directs)
            size = e2e[0][0]["bytes"]
            to_sink = size / (stream["monitor_mbps"] * 1e6)
            spooler = spooling + max(enddoc - direct, 0)
            printer = max(direct - to_sink, 0)
            w("Where the %s s of a job go (medians): the spooler %s s (spooling %s s, and %s s of "
              "EndDocPrinter beyond what the monitor alone takes), the monitor %s s (its rate into the "
              "discarding printer of row 1), the printer %s s (the monitor alone takes %s s into "
              "ippeveprinter against %s s into the discarding printer); ipptool delivers the same "
              "bytes in %s s." % (
                  fmt(total), fmt(spooler), fmt(spooling), fmt(max(enddoc - direct, 0)), fmt(to_sink),
                  fmt(printer), fmt(direct), fmt(to_sink), fmt(ipptool_s)))
            w("")

    if scale is not None and not failed(scale):
        w("## Scale details")
        w("")
        w("%d ports opened in %s s; working set %s MiB before, %s MiB with the ports open; %d polls in "
          "the steady %s s window; the monitor's process used %s%% of a CPU meanwhile." % (
              scale["ports"], fmt(scale["open_all_s"]), fmt(scale["working_set_before"] / MIB, 0),
              fmt(scale["working_set_open"] / MIB, 0), scale["polls_in_window"], fmt(scale["window_s"], 0),
              fmt(scale["process_cpu_share"] * 100, 2)))
        if timing:
            w("The printer saw %d ports and %d requests; the first polls of all ports came within %s s." % (
                timing["ports_seen"], timing["polls"], fmt(timing["first_spread"])))
        w("")

    with open(out, "w") as f:
        f.write("\n".join(lines).rstrip() + "\n")
    sys.stdout.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
