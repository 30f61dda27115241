#!/usr/bin/env python3
"""Tiny IPP-over-HTTP client for the Nimbrel tests (Python 3 standard library only).

It sends requests shaped like the monitor's own (IPP 1.0 bodies, POST with Content-Length or
chunked framing, optionally through an HTTP proxy) to peers on 127.0.0.1 and returns the raw reply.

    python3 tests/peers/ipp_client.py get-printer-attributes ipp://127.0.0.1:PORT/ipp/print \
        [--proxy 127.0.0.1:PPORT] [--out BODY.bin]
    python3 tests/peers/ipp_client.py print-job ipp://127.0.0.1:PORT/ipp/print DOC \
        [--chunked] [--http-version 1.0] [--proxy 127.0.0.1:PPORT] [--job-id N] [--format MIME]

Both print the HTTP status line and the decoded status-code, printer-state,
printer-state-reasons and printer-make-and-model (or job-id / job-state) of the reply.

As a module: post(...) and read_reply(...) below.
"""

import argparse
import os
import socket
import sys
import time
from urllib.parse import urlsplit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import fake_printer  # noqa: E402  (the IPP codec lives there)


def split_uri(uri):
    u = urlsplit(uri)
    port = u.port or 631
    return u.hostname, port, u.path or "/"


def _frame_chunks(data, size):
    out = bytearray()
    for i in range(0, len(data), size):
        piece = data[i:i + size]
        out += b"%x\r\n" % len(piece) + piece + b"\r\n"
    return bytes(out)


def read_reply(sock, timeout=30.0, skip_interim=True):
    """Read one HTTP reply: (status, headers, body, raw_bytes). Interim 100 replies are skipped
    (and kept in raw_bytes). The body follows Content-Length, chunked coding, or the close."""
    deadline = time.monotonic() + timeout
    buf = bytearray()
    raw = bytearray()

    def more():
        left = deadline - time.monotonic()
        if left <= 0:
            raise TimeoutError("no complete reply within %.1f s" % timeout)
        sock.settimeout(left)
        data = sock.recv(65536)
        raw.extend(data)
        return data

    while True:
        while b"\r\n\r\n" not in buf:
            data = more()
            if not data:
                raise ConnectionError("closed before a complete reply head (%d bytes)" % len(buf))
            buf += data
        end = buf.index(b"\r\n\r\n") + 4
        head = bytes(buf[:end]).decode("latin-1")
        del buf[:end]
        lines = head.split("\r\n")
        status = int(lines[0].split(" ")[1])
        headers = []
        for line in lines[1:]:
            if line:
                n, _, v = line.partition(":")
                headers.append((n.strip().lower(), v.strip()))
        hd = dict(headers)
        if status == 100 and skip_interim:
            continue
        if "content-length" in hd:
            n = int(hd["content-length"])
            while len(buf) < n:
                data = more()
                if not data:
                    raise ConnectionError("closed inside a body of %d bytes" % n)
                buf += data
            return status, headers, bytes(buf[:n]), bytes(raw)
        if "chunked" in hd.get("transfer-encoding", "").lower():
            body = bytearray()
            while True:
                while b"\r\n" not in buf:
                    data = more()
                    if not data:
                        raise ConnectionError("closed inside chunked body")
                    buf += data
                i = buf.index(b"\r\n")
                size = int(bytes(buf[:i]).split(b";")[0], 16)
                del buf[:i + 2]
                while len(buf) < size + 2:
                    data = more()
                    if not data:
                        raise ConnectionError("closed inside a chunk")
                    buf += data
                if size == 0:
                    return status, headers, bytes(body), bytes(raw)
                body += buf[:size]
                del buf[:size + 2]
        while True:  # no framing: the body ends with the connection
            data = more()
            if not data:
                return status, headers, bytes(buf), bytes(raw)
            buf += data


def post(uri, body, document=b"", proxy=None, http_version="1.1", chunked=False, chunk_size=1024,
         timeout=30.0, user_agent="Nimbrel/R1.1 (WinNT40)"):
    """POST an IPP body (plus document bytes) to the printer of `uri`, directly or through
    `proxy` ("host:port"). Returns (status, headers, body, raw_reply)."""
    host, port, path = split_uri(uri)
    target = (host, port)
    request_uri = path
    if proxy:
        ph, _, pp = proxy.rpartition(":")
        target = (ph, int(pp))
        request_uri = "http://%s:%d%s" % (host, port, path)
    payload = body + document
    head = "POST %s HTTP/%s\r\nConnection: Keep-Alive\r\n" % (request_uri, http_version)
    if chunked:
        head += "Transfer-Encoding: chunked\r\n"
    head += "User-Agent: %s\r\nHost: %s:%d\r\nAccept: application/ipp\r\n" \
            "Content-Type: application/ipp\r\n" % (user_agent, host, port)
    if not chunked:
        head += "Content-Length: %d\r\n" % len(payload)
    head += "\r\n"
    if chunked:
        wire = head.encode("latin-1") + _frame_chunks(body, max(len(body), 1)) + \
            _frame_chunks(document, chunk_size) + b"0\r\n\r\n"
    else:
        wire = head.encode("latin-1") + payload
    with socket.create_connection(target, timeout=timeout) as s:
        s.sendall(wire)
        return read_reply(s, timeout)


def _summary(status, body):
    out = ["HTTP status %d, body %d bytes" % (status, len(body))]
    d = fake_printer.decode_ipp(body)
    if d:
        out.append("IPP version %d.%d status-code 0x%04x request-id %d" %
                   (d["version"][0], d["version"][1], d["code"], d["request_id"]))
        for name in ("printer-state", "printer-state-reasons", "printer-make-and-model", "job-id",
                     "job-state", "status-message"):
            if name in d["attributes"]:
                out.append("%s = %s" % (name, d["attributes"][name]))
        if d["error"]:
            out.append("decode error: %s" % d["error"])
    return "\n".join(out)


def main(argv=None):
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    g = sub.add_parser("get-printer-attributes")
    g.add_argument("uri")
    g.add_argument("--proxy")
    g.add_argument("--out", help="write the raw IPP response body here")
    g.add_argument("--request-id", type=int, default=1)
    p = sub.add_parser("print-job")
    p.add_argument("uri")
    p.add_argument("document")
    p.add_argument("--proxy")
    p.add_argument("--chunked", action="store_true")
    p.add_argument("--http-version", default=None)
    p.add_argument("--job-id", type=int, default=1)
    p.add_argument("--format")
    p.add_argument("--out")
    args = ap.parse_args(argv)
    if args.cmd == "get-printer-attributes":
        body = fake_printer.build_get_printer_attributes_request(args.uri, args.request_id)
        status, headers, reply, raw = post(args.uri, body, proxy=args.proxy)
    else:
        with open(args.document, "rb") as f:
            doc = f.read()
        body = fake_printer.build_print_job_request(args.uri, args.job_id,
                                                    document_format=args.format)
        version = args.http_version or ("1.1" if args.chunked else "1.0")
        status, headers, reply, raw = post(args.uri, body, doc, proxy=args.proxy,
                                           http_version=version, chunked=args.chunked)
    if args.out:
        with open(args.out, "wb") as f:
            f.write(reply)
    print(raw.split(b"\r\n", 1)[0].decode("latin-1"))
    print(_summary(status, reply))
    return 0 if status == 200 else 1


if __name__ == "__main__":
    sys.exit(main())
