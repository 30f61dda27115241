#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets into fuzz/corpus/<target>/.

The seeds are real replies (a Get-Printer-Attributes reply captured from ippeveprinter, with the
HTTP head it came with), the edge cases of the unit tests, and a few hand-made inputs. Run it
again after changing a seed here; the files are kept in the repository so that a fuzz run needs
nothing but the source tree.

    fuzz/make_seeds.py
"""

import os
import shutil
import struct

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CORPUS = os.path.join(TOP, "fuzz", "corpus")
CAPTURE = os.path.join(TOP, "tests", "peers", "captures", "ippeveprinter-get-printer-attributes.bin")


def write(target, name, data):
    folder = os.path.join(CORPUS, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


# ---- IPP bodies ----


def ipp_header(status=0x0000, request_id=1):
    return struct.pack(">BBHI", 1, 1, status, request_id)


def attr(tag, name, value):
    name = name.encode() if isinstance(name, str) else name
    value = value.encode() if isinstance(value, str) else value
    return bytes([tag]) + struct.pack(">H", len(name)) + name + struct.pack(">H", len(value)) + value


def enum(name, number):
    return attr(0x23, name, struct.pack(">I", number))


def body(*parts, status=0x0000):
    return ipp_header(status) + b"".join(parts)


CAPTURED_BODY = open(CAPTURE, "rb").read()

# The head ippeveprinter sent with the captured body.
CAPTURED_HEAD = (
    b"HTTP/1.1 200 OK\r\n"
    b"Connection: Keep-Alive\r\n"
    b"Content-Length: %d\r\n"
    b"Content-Type: application/ipp\r\n"
    b"Date: Fri, 11 Dec 2026 12:19:00 GMT\r\n"
    b"Keep-Alive: timeout=10\r\n"
    b"Accept-Encoding: gzip, deflate, identity\r\n"
    b"Server: CUPS/2.4.2\r\n"
    b"X-Frame-Options: DENY\r\n"
    b"Content-Security-Policy: frame-ancestors 'none'\r\n"
    b"\r\n" % len(CAPTURED_BODY)
)

SMALL_BODY = body(b"\x01", enum("printer-state", 4), b"\x03")


def reply(body_bytes, status_line=b"HTTP/1.1 200 OK"):
    return status_line + b"\r\nContent-Length: %d\r\n\r\n" % len(body_bytes) + body_bytes


CONTINUE = b"HTTP/1.1 100 Continue\r\n\r\n"


def ipp_reply_seeds():
    t = "ipp_reply"
    write(t, "ippeveprinter-get-printer-attributes", CAPTURED_BODY)
    write(t, "state-processing-reasons-two-values",
          body(b"\x01", attr(0x47, "attributes-charset", "utf-8"), b"\x04",
               enum("printer-state", 4), attr(0x44, "printer-state-reasons", "media-low"),
               attr(0x44, "", "door-open"),
               attr(0x41, "printer-make-and-model", "Example Printer"), b"\x03"))
    write(t, "state-as-integer-and-unknown-state",
          body(b"\x04", attr(0x21, "printer-state", struct.pack(">I", 3)),
               enum("printer-state", 6), b"\x03"))
    write(t, "unsupported-group-and-job-state",
          body(b"\x05", enum("job-state", 9), enum("printer-state", 5), b"\x03", status=0x0406))
    write(t, "eight-bytes", ipp_header(0x040A))
    write(t, "truncated-value", body(b"\x04", enum("printer-state", 3))[:-2])
    write(t, "name-length-past-the-end", body(b"\x04\x44\xff\xff" + b"printer-state"))
    write(t, "name-of-512-bytes",
          body(b"\x04", attr(0x44, "p" * 512, "x"), attr(0x44, "", "also"), b"\x03"))
    write(t, "text-of-600-bytes", body(b"\x04", attr(0x41, "printer-make-and-model", "m" * 600)))
    write(t, "odd-tags", body(b"\x06\x0f", enum("printer-state", 3), b"\x00\x80\xff"))
    write(t, "enum-of-two-bytes", body(b"\x04", attr(0x23, "printer-state", b"\x00\x03")))


def reply_head_seeds():
    t = "reply_head"
    write(t, "ippeveprinter-head", CAPTURED_HEAD + CAPTURED_BODY[:16])
    write(t, "with-length", reply(SMALL_BODY))
    write(t, "interim-then-final", CONTINUE + reply(SMALL_BODY))
    write(t, "no-header-lines", b"HTTP/1.0 200 OK\r\n\r\n" + SMALL_BODY)
    write(t, "other-case-spaces-tabs-lf",
          b"HTTP/1.1 200 OK\r\ncontent-length:  \t 25\r\nA: b\nX: c\r\n d\r\n\r\n")
    write(t, "version-without-slash-no-reason", b"ICY 404\r\nContent-Length:\r\n\r\n")
    write(t, "status-of-128-characters", b"HTTP/1.1 " + b"2" * 128 + b" OK\r\n\r\n")
    write(t, "length-of-128-characters",
          b"HTTP/1.1 200 OK\r\nContent-Length: " + b"0" * 127 + b"9\r\n\r\n")
    write(t, "nul-in-the-head", b"HTTP/1.1 200 OK\r\n\x00\r\n\r\n")
    write(t, "incomplete", b"HTTP/1.1 200 OK\r\nContent-Len")


def planned(reply_bytes, plan=b"", proxy=False):
    """An input of the reply reading target: flags, plan length, plan, reply."""
    return bytes([1 if proxy else 0, len(plan)]) + plan + reply_bytes


def reply_reading_seeds():
    t = "reply_reading"
    captured = CAPTURED_HEAD + CAPTURED_BODY
    write(t, "ippeveprinter-one-piece", planned(captured))
    write(t, "ippeveprinter-pieces", planned(captured, bytes([17, 5, 200, 1, 130])))
    write(t, "ippeveprinter-proxy", planned(captured, bytes([255]), proxy=True))
    write(t, "interim-then-final", planned(CONTINUE + reply(SMALL_BODY)))
    write(t, "interim-split-then-final", planned(CONTINUE + reply(SMALL_BODY), bytes([20, 3])))
    write(t, "interim-with-body",
          planned(b"HTTP/1.1 100 Continue\r\nContent-Length: 5\r\n\r\nHTTP/" + reply(SMALL_BODY)))
    filler = (b"HTTP/1.1 404 Not Found\r\n\r\n" * 1000)[:24000]
    write(t, "interim-body-larger-than-the-area",
          planned(b"HTTP/1.1 100 Continue\r\nContent-Length: 24000\r\n\r\n" + filler +
                  reply(ipp_header(0x0503) + b"\x03"), bytes([200, 255])))
    write(t, "not-found", planned(reply(ipp_header(0x0400), b"HTTP/1.1 404 Not Found")))
    write(t, "chunked-reply",
          planned(b"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9\r\n" +
                  ipp_header(0x040A) + b"\x03\r\n0\r\n\r\n"))
    big = body(b"\x04", attr(0x30, "f", b"f" * 21000), enum("printer-state", 5), b"\x03")
    write(t, "body-larger-than-the-area", planned(reply(big), bytes([255, 255])))
    write(t, "time-out-in-the-body", planned(reply(SMALL_BODY), bytes([45, 0])))
    write(t, "http10-no-header-lines", planned(b"HTTP/1.0 200 OK\r\n\r\n" + SMALL_BODY))
    # Found by the fuzzer: the status query reader skipped only spaces and tabs before a number.
    write(t, "vertical-tab-before-the-length",
          planned(b"HTTP/1.1 200 OK\r\nContent-Length:\x0b %d\r\n\r\n" % len(SMALL_BODY) +
                  SMALL_BODY))


def uri_input(uri, proxy=b"lp9", port=b"8080", flags=0, sizes=0, raw_fields=()):
    fields = [uri, proxy, port] + list(raw_fields)
    return bytes([flags, sizes]) + b"\x00".join(fields)


def printer_uri_seeds():
    t = "printer_uri"
    write(t, "address-streaming", uri_input(b"ipp://10.1.2.3/ipp", flags=1 | 4))
    write(t, "port-and-path-proxy", uri_input(b"ipp://lp1:8000/ipp/port1", flags=2))
    write(t, "split-cases", uri_input(b"HTTP://lp1:631:9/a/b?c=d", port=b"00080"))
    write(t, "colons-only", uri_input(b"http://::/x", proxy=b"0x0a.1.2.3", port=b"65536"))
    write(t, "no-path", uri_input(b"http://lp1", proxy=b"lp1.1.2.3.4.5", port=b"+80"))
    write(t, "empty-authority", uri_input(b"http:///p", proxy=b"10.1.2.256", port=b""))
    write(t, "line-break-in-path", uri_input(b"http://lp1/p\r\nX-Injected: 1", flags=1))
    write(t, "long-authority", uri_input(b"http://" + b"h" * 1100 + b"/p", sizes=0x55))
    write(t, "long-path", uri_input(b"http://lp1/" + b"p" * 600, flags=2, sizes=0xAA))
    write(t, "raw-fields",
          uri_input(b"http://lp1/ipp", flags=8 | 1,
                    raw_fields=[b"POST", b"1.1", b"Keep-Alive", b"chunked", b"application/ipp",
                                b"application/ipp", b"/ipp", b"lp1:631"]))
    write(t, "raw-fields-unterminated",
          uri_input(b"http://lp1/ipp", flags=8,
                    raw_fields=[b"POSTPOST", b"1.0", b"c" * 130, b"5300", b"t", b"a", b"/x",
                                b"h:1"]))
    write(t, "raw-fields-with-line-break",
          uri_input(b"http://lp1/ipp", flags=8,
                    raw_fields=[b"POST", b"1.1", b"Keep-Alive\r\nX: y", b"12", b"t", b"a", b"/x",
                                b"h:1"]))


def pack_input(level, size_mode, names, a=0, b=0):
    return bytes([level, size_mode, a, b]) + b"\x00".join(names)


def port_info_pack_seeds():
    t = "port_info_pack"
    names = [b"ipp://10.1.2.3/ipp", b"lp2", b""]
    write(t, "level-1-exact", pack_input(1, 0, names))
    write(t, "level-2-exact", pack_input(2, 0, names))
    write(t, "level-2-one-byte-short", pack_input(2, 1, names))
    write(t, "level-1-larger-buffer", pack_input(1, 2, names, a=13))
    write(t, "level-3", pack_input(3, 0, names))
    write(t, "null-name", pack_input(2, 0, [b"\xff", b"lp1"]))
    write(t, "name-longer-than-a-record", pack_input(1, 0, [b"n" * 1100, b"lp1"]))
    write(t, "many-empty-names", pack_input(2, 0, [b""] * 40))
    write(t, "small-buffer", pack_input(1, 3, names, a=5, b=7))


def main():
    if os.path.isdir(CORPUS):
        shutil.rmtree(CORPUS)
    ipp_reply_seeds()
    reply_head_seeds()
    reply_reading_seeds()
    printer_uri_seeds()
    port_info_pack_seeds()


if __name__ == "__main__":
    main()
