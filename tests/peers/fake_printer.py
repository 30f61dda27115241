#!/usr/bin/env python3
"""Scriptable fake IPP printer on 127.0.0.1 for the Nimbrel tests.

The printer records every request exactly as it arrived and answers from a script, so that a test
can make it behave like a well-behaved printer, a slow one, a broken one or a hostile one.
Python 3 standard library only; it never binds anything but 127.0.0.1.

Command line
------------
    python3 tests/peers/fake_printer.py --port 0 --script FILE --record DIR --ready-file F

    --port N          port to listen on; 0 picks a free one
    --script FILE     JSON script (see below); re-read on every new connection when it changed
    --script-json T   the script as JSON text instead of a file
    --record DIR      write every request to DIR as numbered files (see Records)
    --ready-file F    once listening, write the port number to F (atomically, by rename)
    --rcvbuf BYTES    receive buffer of the listening socket (inherited by connections): a small
                      value makes a client's sends block soon when a step stops reading
    --lifetime SECS   exit after this many seconds (default 3600), so a forgotten printer ends
    --quiet           no log lines on stderr
SIGTERM and SIGINT stop it cleanly.

Script
------
A JSON object (a bare list means {"steps": [...]}; an object with none of the keys below is taken
as the default step):

    {
      "common":     {step fields merged under every step},
      "steps":      [step, step, ...],   # consumed one per request, in order
      "default":    step,                # used once "steps" is exhausted
      "operations": {                    # per IPP operation: "print-job", "get-printer-attributes",
        "print-job": {"steps": [...], "default": step},   # or "0x000b", or "11"
        "get-printer-attributes": {"default": step}
      }
    }

A request's step is chosen from its operation's entry when "operations" names the operation (its
"steps" first, then its "default"), otherwise from the top-level "steps", then "default", then the
built-in replies (Get-Printer-Attributes: 200 with printer-state 3 "idle", printer-state-reasons
"none"; Print-Job: 200 successful-ok with a job-id; other IPP operations: 0x0501; no IPP body: 400).
With "operations" present the printer reads the request body until it holds the 8-byte IPP header
(operation-id) before it picks the step; without it the step is picked right after the head.
A monitor opens one connection per request, so "per request" and "per connection" are the same.

Step fields (all optional):
  Final reply
    "http_version": "HTTP/1.1"         status line version text, e.g. "HTTP/1.0"
    "status": 200, "reason": "OK"      status code and reason phrase (reason defaults by code)
    "headers": [["Name", "value"], ...] or {"Name": "value"}   extra header lines
    "content_type": "application/ipp"  null omits the line
    "omit_content_length": false       true: no Content-Length line (the reply ends by closing)
    "content_length": N                send this Content-Length value instead of the true one
    "chunked_reply": N                 send the body with Transfer-Encoding: chunked, N-byte chunks
    "body_hex" / "body_base64" / "body_text"   the body bytes
    "ipp": {...}                       a generated IPP response body (see IPP response)
    "raw_hex" / "raw_base64" / "raw_text"      the whole final reply, verbatim (head and body)
  Interim replies ("100 Continue")
    "continue": N or "forever"         number of interim replies (default 0)
    "continue_at": "end"               "head": start right after the request head;
                                       N: once N raw body bytes are in (a printer answering
                                       while the document still streams);
                                       "end": just before the final reply (default)
    "continue_every_ms": 0             pause between interim replies; 0 sends them all at once
                                       (at "end" in the same send as the final reply). With
                                       "forever" (period > 0) no final reply is ever sent.
    "continue_headers": [["Name", "value"]]   header lines of each interim reply
    "continue_body_hex": ""            bytes after each interim head (a misbehaving printer)
  Timing and delivery of the final reply
    "delay_ms": 0                      wait before the final reply
    "pieces": [n1, n2, ...]            send the reply as pieces of these sizes, the rest last
    "piece_pause_ms": 100              pause between pieces
    "close_after": N                   send only the first N bytes, then close (FIN)
    "reset_after": N                   send only the first N bytes, then reset (SO_LINGER 0)
  Request body
    "read_body": "all"                 "all": until the end of the chunked framing or the
                                       Content-Length; N: stop reading after N raw body bytes
                                       (the client's sends then block once buffers fill)
    "answer_at": "end"                 "end": after the body reading stops; "head": right after
                                       the head (early answer); N: once N raw body bytes are in;
                                       "never": no final reply
                                       After an early answer the rest of the body is still read
                                       (as far as "read_body" allows) before "after" applies.
  After the reply
    "after": "close"                   "close": graceful close (FIN, then discard what the client
                                       still sends for up to 2 s); "hold": keep the connection
                                       open until the client closes or "hold_ms" passes;
                                       "keep_alive": read the next request on the connection;
                                       "reset": reset the connection
    "hold_ms": 300000                  bound of every hold (never answer, forever interims)
  State over time
    "sequence": [overlay, ...]         partial steps laid over this step one after another; each
                                       lasts "ms" milliseconds (clock starts at the first request
                                       that uses this step) or "count" requests; the last one
                                       stays. An overlay's "ipp" is merged into the step's "ipp".
      Example, "Processing" for 3 s then "Idle":
        {"operations": {"get-printer-attributes": {"default": {
            "ipp": {"printer_state": 3},
            "sequence": [{"ms": 3000, "ipp": {"printer_state": 4}}, {}]}}}}

IPP response ("ipp" field; the printer and job attributes appear only when given)
    "status": 0                        status-code
    "version": "echo"                  [major, minor], or "echo" (the request's, else 1.1)
    "request_id": "echo"               or a number
    "charset": "utf-8", "language": "en-us"   operation attributes; null omits
    "status_message": "text"           operation attribute status-message
    "printer_state": 3                 enum, printer-attributes group
    "printer_state_reasons": ["none"]  keywords (1setOf: further values with name-length 0)
    "printer_make_and_model": "text"   textWithoutLanguage
    "attr_tags": {"printer-state": "integer"}   other value tags for the three attributes above
    "printer_attributes": [attr, ...]  more attributes of the printer group
    "job_id": N, "job_state": N, "job_state_reasons": [...]   job-attributes group
    "unsupported": [attr, ...]         unsupported-attributes group (0x05)
    "groups": [{"tag": 4, "attributes": [attr, ...]}]   further groups, in order
    "pad_to": N                        padding attributes so that the body is exactly N bytes
    "end_tag": true                    false leaves out end-of-attributes-tag
    "truncate": N                      cut the body to N bytes
    "trailing_hex": ""                 bytes after the end tag
  attr = {"tag": "enum" | 0x23, "name": "printer-state", "value": 3} or "values": [...]
  Values: numbers for integer/enum, true/false for boolean, text for text tags,
  {"hex": "..."} for raw value bytes of any tag.

Records
-------
Each request is numbered in the order its body reading ended (1, 2, ...). With --record DIR:
    NNNN.json  metadata: request_line, method, target, http_version, headers, framing
               ("chunked", "content-length", "none"), content_length, chunk_sizes, chunk_lines,
               chunk_times_ms, body_bytes_received, body_complete, body_error,
               ipp (the decoded request),
               doc_length, step (where in the script), reply (interims sent, bytes sent, outcome)
    NNNN.head  the raw request head, up to and including the empty line
    NNNN.bin   the raw body bytes exactly as received (chunk framing included)
    NNNN.body  the de-chunked body: IPP request followed by the document
    NNNN.doc   the document alone: the body after the IPP request's end-of-attributes-tag
The JSON file is rewritten once the reply is done ("reply" filled in, "reply_done": true).
Records stay in memory too (FakePrinter.get_records(), wait_for_records(), wait_for_reply_done()).

Control endpoint (same port; these requests are neither recorded nor scripted)
    GET  /_control/records[?count=N&timeout_ms=T]   JSON list of metadata (waits for N records)
    GET  /_control/records/N/{head,bin,body,doc}    raw bytes of record N
    GET  /_control/script                           the script in use
    PUT  /_control/script  (JSON body)              replace the script (stops watching the file)
    POST /_control/reset                            forget records and sequence state

Module use
----------
    from fake_printer import FakePrinter
    with FakePrinter(script={...}, record_dir=None) as printer:
        printer.port, printer.url("/ipp/print")
        printer.set_script({...})
        printer.wait_for_records(1, timeout=10)   # list of record dicts with bytes under
                                                  # "head", "raw", "body", "doc"
The module also holds a small IPP codec: build_ipp_response, decode_ipp,
build_get_printer_attributes_request, build_print_job_request.
"""

import argparse
import base64
import binascii
import copy
import json
import os
import select
import signal
import socket
import struct
import sys
import threading
import time
from http import HTTPStatus

LOOPBACK = "127.0.0.1"
HEAD_LIMIT = 65536  # a longer request head is refused
CHUNK_LINE_LIMIT = 1024  # a chunk-size line longer than this is a framing error
IO_TIMEOUT_S = 330.0  # the monitor waits 300 s for us; we wait a little longer for it
SEND_TIMEOUT_S = 60.0
POLL_SLICE_S = 0.05  # how often waits look at interim ticks and at the stop flag
DEFAULT_HOLD_MS = 300000
CLOSE_DRAIN_S = 2.0

# ---------------------------------------------------------------------------------------------
# IPP codec
# ---------------------------------------------------------------------------------------------

TAGS = {
    "operation-attributes": 0x01,
    "job-attributes": 0x02,
    "end-of-attributes": 0x03,
    "printer-attributes": 0x04,
    "unsupported-attributes": 0x05,
    "unsupported": 0x10,
    "unknown": 0x12,
    "no-value": 0x13,
    "integer": 0x21,
    "boolean": 0x22,
    "enum": 0x23,
    "octetString": 0x30,
    "dateTime": 0x31,
    "resolution": 0x32,
    "rangeOfInteger": 0x33,
    "begCollection": 0x34,
    "textWithLanguage": 0x35,
    "nameWithLanguage": 0x36,
    "endCollection": 0x37,
    "textWithoutLanguage": 0x41,
    "nameWithoutLanguage": 0x42,
    "keyword": 0x44,
    "uri": 0x45,
    "uriScheme": 0x46,
    "charset": 0x47,
    "naturalLanguage": 0x48,
    "mimeMediaType": 0x49,
    "memberAttrName": 0x4A,
}
TAG_NAMES = {v: k for k, v in TAGS.items()}
INT_TAGS = (0x21, 0x23)
TEXT_TAGS = (0x41, 0x42, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4A)

OPERATIONS = {
    0x0002: "print-job",
    0x0003: "print-uri",
    0x0004: "validate-job",
    0x0005: "create-job",
    0x0006: "send-document",
    0x0008: "cancel-job",
    0x0009: "get-job-attributes",
    0x000A: "get-jobs",
    0x000B: "get-printer-attributes",
}
OPERATION_IDS = {v: k for k, v in OPERATIONS.items()}

OP_PRINT_JOB = 0x0002
OP_GET_PRINTER_ATTRIBUTES = 0x000B


def tag_value(tag):
    """A tag given as a number or as its name in TAGS."""
    if isinstance(tag, int):
        if not 0 <= tag <= 0xFF:
            raise ValueError("tag out of range: %r" % tag)
        return tag
    if isinstance(tag, str):
        if tag in TAGS:
            return TAGS[tag]
        return int(tag, 0)
    raise ValueError("bad tag: %r" % (tag,))


def encode_value(tag, value):
    """The value bytes of one attribute value for the given tag."""
    if isinstance(value, dict) and "hex" in value:
        return binascii.unhexlify(value["hex"])
    if isinstance(value, (bytes, bytearray)):
        return bytes(value)
    if tag == 0x22:
        return bytes([1 if value else 0])
    if tag in INT_TAGS:
        return struct.pack(">i", int(value))
    if isinstance(value, str):
        return value.encode("utf-8")
    raise ValueError("cannot encode %r for tag 0x%02x" % (value, tag))


def encode_attribute(tag, name, values):
    """One attribute: the first value carries the name, further values have name-length 0."""
    tag = tag_value(tag)
    if not isinstance(values, (list, tuple)):
        values = [values]
    if not values:
        raise ValueError("attribute %s has no value" % name)
    out = bytearray()
    name_bytes = name.encode("utf-8")
    for i, v in enumerate(values):
        vb = encode_value(tag, v)
        nb = name_bytes if i == 0 else b""
        out += bytes([tag]) + struct.pack(">H", len(nb)) + nb + struct.pack(">H", len(vb)) + vb
    return bytes(out)


def _attr_from_desc(desc):
    values = desc["values"] if "values" in desc else desc.get("value")
    return encode_attribute(desc["tag"], desc["name"], values)


def _padding(count):
    """Attributes of exactly `count` bytes: one textWithoutLanguage with further values."""
    name = b"x-nimbrel-pad"  # first value: 5 + 13 bytes of overhead, further values 5 bytes
    first_overhead = 5 + len(name)
    if count < first_overhead:
        raise ValueError("pad_to leaves %d bytes, padding needs at least %d" %
                         (count, first_overhead))
    most = 30000
    sizes = []
    rest = count - first_overhead
    v = min(rest, most)
    rest -= v
    if 0 < rest < 5:
        v -= 5
        rest += 5
    sizes.append(v)
    while rest > 0:
        if rest <= most + 5:
            sizes.append(rest - 5)
            rest = 0
        else:
            v = most
            rest -= most + 5
            if 0 < rest < 5:
                v -= 5
                rest += 5
            sizes.append(v)
    out = bytearray()
    for i, v in enumerate(sizes):
        nb = name if i == 0 else b""
        out += b"\x41" + struct.pack(">H", len(nb)) + nb + struct.pack(">H", v) + b"x" * v
    assert len(out) == count
    return bytes(out)


def build_ipp_response(desc, request=None):
    """An IPP response body from the small description given in the module help.

    `request` is the decoded request (decode_ipp) or None; it gives the echoed version and
    request-id.
    """
    desc = desc or {}
    known = {"status", "version", "request_id", "charset", "language", "status_message",
             "printer_state", "printer_state_reasons", "printer_make_and_model", "attr_tags",
             "printer_attributes", "job_id", "job_state", "job_state_reasons", "unsupported",
             "groups", "pad_to", "end_tag", "truncate", "trailing_hex"}
    unknown = set(desc) - known
    if unknown:
        raise ValueError("unknown ipp fields: %s" % ", ".join(sorted(unknown)))
    version = desc.get("version", "echo")
    if version == "echo":
        version = request["version"] if request and request.get("version") else [1, 1]
    request_id = desc.get("request_id", "echo")
    if request_id == "echo":
        request_id = request["request_id"] if request and request.get("request_id") is not None \
            else 1
    out = bytearray(struct.pack(">BBhI", version[0] & 0xFF, version[1] & 0xFF,
                                _s16(desc.get("status", 0)), request_id & 0xFFFFFFFF))
    tags = {"printer-state": 0x23, "printer-state-reasons": 0x44, "printer-make-and-model": 0x41}
    for k, v in (desc.get("attr_tags") or {}).items():
        tags[k] = tag_value(v)

    out.append(0x01)
    if desc.get("charset", "utf-8") is not None:
        out += encode_attribute(0x47, "attributes-charset", desc.get("charset", "utf-8"))
    if desc.get("language", "en-us") is not None:
        out += encode_attribute(0x48, "attributes-natural-language", desc.get("language", "en-us"))
    if desc.get("status_message") is not None:
        out += encode_attribute(0x41, "status-message", desc["status_message"])

    if desc.get("unsupported"):
        out.append(0x05)
        for a in desc["unsupported"]:
            out += _attr_from_desc(a)

    printer = bytearray()
    if desc.get("printer_state") is not None:
        printer += encode_attribute(tags["printer-state"], "printer-state", desc["printer_state"])
    if desc.get("printer_state_reasons") is not None:
        reasons = desc["printer_state_reasons"]
        if isinstance(reasons, str):
            reasons = [reasons]
        printer += encode_attribute(tags["printer-state-reasons"], "printer-state-reasons",
                                    reasons)
    if desc.get("printer_make_and_model") is not None:
        printer += encode_attribute(tags["printer-make-and-model"], "printer-make-and-model",
                                    desc["printer_make_and_model"])
    for a in desc.get("printer_attributes") or []:
        printer += _attr_from_desc(a)
    if printer:
        out.append(0x04)
        out += printer

    job = bytearray()
    if desc.get("job_id") is not None:
        job += encode_attribute(0x21, "job-id", desc["job_id"])
    if desc.get("job_state") is not None:
        job += encode_attribute(0x23, "job-state", desc["job_state"])
    if desc.get("job_state_reasons") is not None:
        r = desc["job_state_reasons"]
        job += encode_attribute(0x44, "job-state-reasons", [r] if isinstance(r, str) else r)
    if job:
        out.append(0x02)
        out += job

    for g in desc.get("groups") or []:
        out.append(tag_value(g["tag"]))
        for a in g.get("attributes") or []:
            out += _attr_from_desc(a)

    end_tag = desc.get("end_tag", True)
    if desc.get("pad_to") is not None:
        need = int(desc["pad_to"]) - len(out) - (1 if end_tag else 0)
        if need > 0:
            if not printer:  # padding lives in a printer group of its own
                out.append(0x04)
                need -= 1
            out += _padding(need)
    if end_tag:
        out.append(0x03)
    if desc.get("trailing_hex"):
        out += binascii.unhexlify(desc["trailing_hex"])
    if desc.get("truncate") is not None:
        out = out[:int(desc["truncate"])]
    return bytes(out)


def _s16(v):
    v = int(v) & 0xFFFF
    return v - 0x10000 if v >= 0x8000 else v


def _decode_value(tag, vb):
    if tag in INT_TAGS and len(vb) == 4:
        return struct.unpack(">i", vb)[0]
    if tag == 0x22 and len(vb) == 1:
        return bool(vb[0])
    if tag in TEXT_TAGS:
        return vb.decode("utf-8", "replace")
    return {"hex": vb.hex()}


def decode_ipp(data):
    """Decode an IPP message as far as it is well formed.

    Returns {"version": [maj, min], "code": operation-id or status-code, "request_id",
    "groups": [{"tag", "attributes": [{"name", "tag", "values"}]}], "attributes": {name: values}
    (last occurrence), "end": offset after the end tag or None, "error": text or None}.
    Returns None when data is shorter than the 8-byte header.
    """
    data = bytes(data)
    if len(data) < 8:
        return None
    res = {"version": [data[0], data[1]], "code": struct.unpack(">H", data[2:4])[0],
           "request_id": struct.unpack(">I", data[4:8])[0], "groups": [], "attributes": {},
           "end": None, "error": None}
    pos = 8
    group = None
    attr = None
    while pos < len(data):
        tag = data[pos]
        if tag == 0x03:
            res["end"] = pos + 1
            return res
        if tag < 0x10:
            group = {"tag": tag, "attributes": []}
            res["groups"].append(group)
            attr = None
            pos += 1
            continue
        if pos + 3 > len(data):
            res["error"] = "truncated name-length at %d" % pos
            return res
        nl = struct.unpack(">H", data[pos + 1:pos + 3])[0]
        if pos + 3 + nl + 2 > len(data):
            res["error"] = "truncated name at %d" % pos
            return res
        name = data[pos + 3:pos + 3 + nl].decode("utf-8", "replace")
        vl = struct.unpack(">H", data[pos + 3 + nl:pos + 5 + nl])[0]
        if pos + 5 + nl + vl > len(data):
            res["error"] = "truncated value at %d" % pos
            return res
        vb = data[pos + 5 + nl:pos + 5 + nl + vl]
        value = _decode_value(tag, vb)
        if group is None:
            group = {"tag": None, "attributes": []}
            res["groups"].append(group)
        if nl > 0 or attr is None:
            attr = {"name": name, "tag": tag, "values": [value]}
            group["attributes"].append(attr)
            res["attributes"][name] = attr["values"]
        else:
            attr["values"].append(value)
        pos += 5 + nl + vl
    res["error"] = "no end-of-attributes-tag"
    return res


def build_get_printer_attributes_request(printer_uri, request_id=1, user="anonymous"):
    """The Get-Printer-Attributes body the monitor sends: IPP 1.0, requested-attributes all."""
    out = struct.pack(">BBHI", 1, 0, OP_GET_PRINTER_ATTRIBUTES, request_id) + b"\x01"
    out += encode_attribute(0x47, "attributes-charset", "utf-8")
    out += encode_attribute(0x48, "attributes-natural-language", "en-us")
    out += encode_attribute(0x45, "printer-uri", printer_uri)
    out += encode_attribute(0x42, "requesting-user-name", user)
    out += encode_attribute(0x44, "requested-attributes", "all")
    return out + b"\x03"


def build_print_job_request(printer_uri, job_id=1, user="anonymous", document_format=None):
    """A Print-Job body in the monitor's shape (document-format only when asked for)."""
    out = struct.pack(">BBHI", 1, 0, OP_PRINT_JOB, job_id) + b"\x01"
    out += encode_attribute(0x47, "attributes-charset", "utf-8")
    out += encode_attribute(0x48, "attributes-natural-language", "en-us")
    out += encode_attribute(0x45, "printer-uri", printer_uri)
    out += encode_attribute(0x42, "job-name", "ORVIK_IppJob_%d" % job_id)
    out += encode_attribute(0x22, "ipp-attribute-fidelity", False)
    out += encode_attribute(0x42, "requesting-user-name", user)
    out += encode_attribute(0x42, "document-name", "ORVIK_IppDocument_%d" % job_id)
    if document_format:
        out += encode_attribute(0x49, "document-format", document_format)
    return out + b"\x02\x03"


# ---------------------------------------------------------------------------------------------
# Request body decoders: fed with raw bytes, they consume only what belongs to the body
# ---------------------------------------------------------------------------------------------


class _LengthBody:
    framing = "content-length"

    def __init__(self, length):
        self.remaining = length
        self.body = bytearray()
        self.error = None
        self.chunk_sizes = []
        self.chunk_lines = []
        self.chunk_times_ms = []

    @property
    def done(self):
        return self.remaining == 0 or self.error is not None

    def feed(self, data, t_ms=0):
        n = min(len(data), self.remaining)
        self.body += data[:n]
        self.remaining -= n
        return n


class _NoBody(_LengthBody):
    framing = "none"

    def __init__(self):
        super().__init__(0)


class _ChunkedBody:
    framing = "chunked"

    def __init__(self):
        self.state = "size"
        self.line = bytearray()
        self.remaining = 0
        self.body = bytearray()
        self.error = None
        self.finished = False
        self.chunk_sizes = []
        self.chunk_lines = []
        self.chunk_times_ms = []

    @property
    def done(self):
        return self.finished or self.error is not None

    def feed(self, data, t_ms=0):
        """Consume bytes of the chunked body; returns how many belonged to it."""
        pos = 0
        while pos < len(data) and not self.done:
            if self.state in ("size", "crlf", "trailer"):
                b = data[pos]
                pos += 1
                self.line.append(b)
                if b != 0x0A:
                    if len(self.line) > CHUNK_LINE_LIMIT:
                        self.error = "line longer than %d bytes" % CHUNK_LINE_LIMIT
                    continue
                line = bytes(self.line)
                self.line = bytearray()
                if self.state == "size":
                    self._size_line(line, t_ms)
                elif self.state == "crlf":
                    if line != b"\r\n":
                        self.error = "chunk data not followed by CRLF: %r" % line[:40]
                    else:
                        self.state = "size"
                else:  # trailer lines until the empty one
                    if line in (b"\r\n", b"\n"):
                        self.finished = True
            else:  # data
                n = min(self.remaining, len(data) - pos)
                self.body += data[pos:pos + n]
                pos += n
                self.remaining -= n
                if self.remaining == 0:
                    self.state = "crlf"
        return pos

    def _size_line(self, line, t_ms):
        text = line.decode("latin-1")
        self.chunk_lines.append(text)
        size_text = text.split(";", 1)[0].strip()
        try:
            if not size_text or any(c not in "0123456789abcdefABCDEF" for c in size_text):
                raise ValueError
            size = int(size_text, 16)
        except ValueError:
            self.error = "bad chunk-size line %r" % text[:40]
            return
        self.chunk_sizes.append(size)
        self.chunk_times_ms.append(t_ms)
        if size == 0:
            self.state = "trailer"
        else:
            self.remaining = size
            self.state = "data"


# ---------------------------------------------------------------------------------------------
# Script handling
# ---------------------------------------------------------------------------------------------

STEP_KEYS = {
    "http_version", "status", "reason", "headers", "content_type", "omit_content_length",
    "content_length", "chunked_reply", "body_hex", "body_base64", "body_text", "ipp", "raw_hex",
    "raw_base64", "raw_text", "continue", "continue_at", "continue_every_ms", "continue_headers",
    "continue_body_hex", "delay_ms", "pieces", "piece_pause_ms", "close_after", "reset_after",
    "read_body", "answer_at", "after", "hold_ms", "sequence", "comment",
}
OVERLAY_KEYS = STEP_KEYS - {"sequence"} | {"ms", "count"}


def _check_step(step, where):
    if not isinstance(step, dict):
        raise ValueError("%s: a step must be an object" % where)
    unknown = set(step) - STEP_KEYS
    if unknown:
        raise ValueError("%s: unknown step fields %s" % (where, ", ".join(sorted(unknown))))
    for i, ov in enumerate(step.get("sequence") or []):
        bad = set(ov) - OVERLAY_KEYS
        if bad:
            raise ValueError("%s.sequence[%d]: unknown fields %s" % (where, i, ", ".join(bad)))
    if "ipp" in step:
        build_ipp_response(step["ipp"])  # raises on bad fields
    for key in ("continue_at", "answer_at"):
        v = step.get(key)
        if v is not None and v not in ("head", "end", "never") and not (
                isinstance(v, int) and v >= 0):
            raise ValueError("%s: bad %s %r" % (where, key, v))
    rb = step.get("read_body", "all")
    if rb != "all" and not (isinstance(rb, int) and rb >= 0):
        raise ValueError("%s: bad read_body %r" % (where, rb))
    if step.get("continue_at") == "never":
        raise ValueError("%s: continue_at cannot be never" % where)
    if "after" in step and step["after"] not in ("close", "hold", "keep_alive", "reset"):
        raise ValueError("%s: bad after %r" % (where, step["after"]))


def _op_key(key):
    """Normalise an operations key to the operation-id."""
    if isinstance(key, int):
        return key
    k = str(key).strip().lower()
    if k in OPERATION_IDS:
        return OPERATION_IDS[k]
    return int(k, 0)


def normalize_script(script):
    """Check a script and bring it into its full form; raises ValueError on mistakes."""
    if script is None:
        script = {}
    if isinstance(script, list):
        script = {"steps": script}
    if not isinstance(script, dict):
        raise ValueError("a script is a JSON object or list")
    top = {"common", "steps", "default", "operations", "comment"}
    if script and not set(script) & top:
        script = {"default": script}
    unknown = set(script) - top
    if unknown:
        raise ValueError("unknown script fields: %s" % ", ".join(sorted(unknown)))
    out = {"common": script.get("common") or {}, "steps": list(script.get("steps") or []),
           "default": script.get("default"), "operations": {}}
    _check_step(out["common"], "common")
    for i, s in enumerate(out["steps"]):
        _check_step(s, "steps[%d]" % i)
    if out["default"] is not None:
        _check_step(out["default"], "default")
    for key, entry in (script.get("operations") or {}).items():
        op = _op_key(key)
        if not isinstance(entry, dict) or set(entry) - {"steps", "default"}:
            raise ValueError("operations.%s: an object with steps and/or default" % key)
        steps = list(entry.get("steps") or [])
        for i, s in enumerate(steps):
            _check_step(s, "operations.%s.steps[%d]" % (key, i))
        if entry.get("default") is not None:
            _check_step(entry["default"], "operations.%s.default" % key)
        out["operations"][op] = {"steps": steps, "default": entry.get("default")}
    return out


def _builtin_step(op):
    if op == OP_GET_PRINTER_ATTRIBUTES:
        return {"ipp": {"printer_state": 3, "printer_state_reasons": ["none"],
                        "printer_make_and_model": "Nimbrel Fake Printer"}}
    if op == OP_PRINT_JOB:
        return {"ipp": {"job_id": 1, "job_state": 3, "job_state_reasons": ["none"]}}
    if op is None:
        return {"status": 400, "content_type": None}
    return {"ipp": {"status": 0x0501}}


def _merge(base, overlay):
    out = dict(base)
    for k, v in overlay.items():
        if k in ("ms", "count"):
            continue
        if k == "ipp" and isinstance(out.get("ipp"), dict):
            merged = dict(out["ipp"])
            merged.update(v)
            out["ipp"] = merged
        else:
            out[k] = v
    return out


# ---------------------------------------------------------------------------------------------
# Connection
# ---------------------------------------------------------------------------------------------


class _Closed(Exception):
    """The client went away (or the printer is stopping): end this connection."""


class _Conn:
    def __init__(self, sock, server):
        self.sock = sock
        self.server = server
        self.pending = bytearray()
        self.ticker = None
        self.sends = []
        self.sent_total = 0
        self.dead = False

    def _tick(self):
        if self.ticker is not None:
            self.ticker()

    def poll(self, events, deadline):
        """Wait for events; returns the event mask, 0 on deadline. Raises _Closed on stop."""
        p = select.poll()
        p.register(self.sock.fileno(), events)
        while True:
            self._tick()
            if self.server.stopping.is_set():
                raise _Closed("printer stopping")
            now = time.monotonic()
            if deadline is not None and now >= deadline:
                return 0
            wait = POLL_SLICE_S if deadline is None else min(POLL_SLICE_S, deadline - now)
            ev = p.poll(max(wait, 0) * 1000)
            if ev:
                return ev[0][1]

    def recv_some(self, limit, deadline):
        """Up to `limit` bytes (pending ones first); b"" when the client closed."""
        if self.pending:
            data = bytes(self.pending[:limit])
            del self.pending[:len(data)]
            return data
        while True:
            ev = self.poll(select.POLLIN, deadline)
            if ev == 0:
                raise _Closed("receive time-out")
            try:
                return self.sock.recv(min(limit, 65536))
            except (BlockingIOError, InterruptedError):
                continue
            except OSError:
                return b""  # a reset counts as the client going away

    def send(self, data):
        """Send all of data; raises _Closed when the client is gone or does not read."""
        view = memoryview(data)
        deadline = time.monotonic() + SEND_TIMEOUT_S
        sent_here = 0
        p = select.poll()
        p.register(self.sock.fileno(), select.POLLOUT)
        while sent_here < len(data):
            if self.server.stopping.is_set():
                raise _Closed("printer stopping")
            if time.monotonic() >= deadline:
                raise _Closed("send time-out")
            if not p.poll(POLL_SLICE_S * 1000):
                continue
            try:
                n = self.sock.send(view[sent_here:])
            except (BlockingIOError, InterruptedError):
                continue
            except OSError as e:
                raise _Closed("send failed: %s" % e)
            sent_here += n
        self.sends.append(len(data))
        self.sent_total += len(data)

    def wait_client_close(self, deadline):
        """Hold the connection without reading until the client closes it or the deadline."""
        mask = select.POLLRDHUP | select.POLLHUP | select.POLLERR
        ev = self.poll(mask, deadline)
        return "client-closed" if ev else "hold-time-out"

    def sleep(self, seconds):
        """A pause that still sends interim replies on time and notices a stop."""
        deadline = time.monotonic() + seconds
        while True:
            self._tick()
            if self.server.stopping.is_set():
                raise _Closed("printer stopping")
            now = time.monotonic()
            if now >= deadline:
                return
            time.sleep(min(POLL_SLICE_S, deadline - now))

    def close_gracefully(self):
        try:
            self.sock.shutdown(socket.SHUT_WR)
            end = time.monotonic() + CLOSE_DRAIN_S
            self.sock.settimeout(CLOSE_DRAIN_S)
            while time.monotonic() < end:
                if not self.sock.recv(65536):
                    break
        except OSError:
            pass
        self._close()

    def reset(self):
        try:
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        except OSError:
            pass
        self._close()

    def _close(self):
        if not self.dead:
            self.dead = True
            try:
                self.sock.close()
            except OSError:
                pass


class _Interims:
    """Interim "100 Continue" replies of one step, sent at once or one per period."""

    def __init__(self, conn, step):
        self.conn = conn
        count = step.get("continue", 0)
        self.forever = count == "forever"
        self.count = 0 if self.forever else int(count)
        self.every = float(step.get("continue_every_ms", 0)) / 1000.0
        if self.forever and self.every <= 0:
            self.every = 1.0  # "forever" needs a period; one a second
        self.at = step.get("continue_at", "end")
        head = "%s 100 Continue\r\n" % step.get("http_version", "HTTP/1.1")
        for name, value in _header_pairs(step.get("continue_headers")):
            head += "%s: %s\r\n" % (name, value)
        self.bytes = head.encode("latin-1") + b"\r\n" + \
            binascii.unhexlify(step.get("continue_body_hex", ""))
        self.sent = 0
        self.started = False
        self.next_t = 0.0

    def remaining(self):
        return self.forever or self.sent < self.count

    def start(self):
        self.started = True
        if not self.remaining():
            return
        if self.every <= 0:
            n = self.count - self.sent
            self.sent = self.count
            self.conn.send(self.bytes * n)
        else:
            self._one()

    def _one(self):
        self.sent += 1
        self.next_t = time.monotonic() + self.every
        self.conn.send(self.bytes)

    def tick(self):
        if self.started and self.remaining() and self.every > 0 and \
                time.monotonic() >= self.next_t:
            self._one()


def _header_pairs(headers):
    if not headers:
        return []
    if isinstance(headers, dict):
        return list(headers.items())
    return [(h[0], h[1]) for h in headers]


def _body_of(step, request):
    if "body_hex" in step:
        return binascii.unhexlify(step["body_hex"])
    if "body_base64" in step:
        return base64.b64decode(step["body_base64"])
    if "body_text" in step:
        return step["body_text"].encode("latin-1")
    if "ipp" in step:
        return build_ipp_response(step["ipp"], request)
    return b""


def build_reply(step, request=None):
    """The bytes of the final reply of a step (head and body)."""
    if "raw_hex" in step:
        return binascii.unhexlify(step["raw_hex"])
    if "raw_base64" in step:
        return base64.b64decode(step["raw_base64"])
    if "raw_text" in step:
        return step["raw_text"].encode("latin-1")
    status = int(step.get("status", 200))
    reason = step.get("reason")
    if reason is None:
        try:
            reason = HTTPStatus(status).phrase
        except ValueError:
            reason = "Status"
    body = _body_of(step, request)
    head = "%s %d %s\r\n" % (step.get("http_version", "HTTP/1.1"), status, reason)
    if step.get("content_type", "application/ipp") is not None:
        head += "Content-Type: %s\r\n" % step.get("content_type", "application/ipp")
    chunk = step.get("chunked_reply")
    if chunk:
        head += "Transfer-Encoding: chunked\r\n"
        framed = bytearray()
        for i in range(0, len(body), int(chunk)):
            piece = body[i:i + int(chunk)]
            framed += b"%x\r\n" % len(piece) + piece + b"\r\n"
        body = bytes(framed) + b"0\r\n\r\n"
    elif "content_length" in step:
        head += "Content-Length: %s\r\n" % step["content_length"]
    elif not step.get("omit_content_length"):
        head += "Content-Length: %d\r\n" % len(body)
    for name, value in _header_pairs(step.get("headers")):
        head += "%s: %s\r\n" % (name, value)
    return head.encode("latin-1") + b"\r\n" + body


# ---------------------------------------------------------------------------------------------
# The printer
# ---------------------------------------------------------------------------------------------


class FakePrinter:
    """The fake printer; start() binds 127.0.0.1:port (0 = free port) and serves in threads."""

    def __init__(self, script=None, script_path=None, record_dir=None, port=0, rcvbuf=None,
                 log=None):
        self.requested_port = port
        self.record_dir = record_dir
        self.rcvbuf = rcvbuf
        self.log_stream = log
        self.lock = threading.Lock()
        self.changed = threading.Condition(self.lock)
        self.stopping = threading.Event()
        self.records = []
        self.script_path = script_path
        self.script_stamp = None
        self.script_raw = script
        self.script = normalize_script(script)
        self._reset_state_locked()
        if script_path:
            self._reload_file(force=True)
        self.listener = None
        self.port = None
        self.thread = None
        self.conns = set()
        self.started_at = time.monotonic()
        if record_dir:
            os.makedirs(record_dir, exist_ok=True)

    # --- life cycle ---

    def start(self):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if self.rcvbuf:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, int(self.rcvbuf))
        s.bind((LOOPBACK, int(self.requested_port)))
        s.listen(64)
        s.settimeout(POLL_SLICE_S * 4)
        self.listener = s
        self.port = s.getsockname()[1]
        self.thread = threading.Thread(target=self._accept_loop, name="fake-printer-accept",
                                       daemon=True)
        self.thread.start()
        return self

    def stop(self):
        self.stopping.set()
        if self.thread:
            self.thread.join(5)
        with self.lock:
            conns = list(self.conns)
        for t in conns:
            t.join(5)
        if self.listener:
            self.listener.close()
            self.listener = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()

    def url(self, path="/ipp/print", scheme="ipp"):
        return "%s://%s:%d%s" % (scheme, LOOPBACK, self.port, path)

    def log(self, text):
        if self.log_stream:
            try:
                self.log_stream.write("fake_printer[%s]: %s\n" % (self.port, text))
                self.log_stream.flush()
            except (OSError, ValueError):
                pass

    # --- script ---

    def set_script(self, script):
        """Replace the script (and stop following a script file)."""
        norm = normalize_script(script)
        with self.lock:
            self.script_raw = script
            self.script = norm
            self.script_path = None
            self._reset_state_locked()

    def _reset_state_locked(self):
        self.queues = {"steps": list(self.script["steps"]),
                       "ops": {op: list(e["steps"]) for op, e in self.script["operations"].items()}}
        self.sequences = {}
        self.job_counter = 0

    def _reload_file(self, force=False):
        path = self.script_path
        if not path:
            return
        try:
            st = os.stat(path)
        except OSError as e:
            self.log("script file %s: %s" % (path, e))
            return
        stamp = (st.st_mtime_ns, st.st_size, st.st_ino)
        if not force and stamp == self.script_stamp:
            return
        try:
            with open(path, "rb") as f:
                raw = json.loads(f.read().decode("utf-8"))
            norm = normalize_script(raw)
        except (OSError, ValueError) as e:
            if force:
                raise
            self.log("script file %s not taken: %s" % (path, e))
            self.script_stamp = stamp
            return
        with self.lock:
            self.script_stamp = stamp
            self.script_raw = raw
            self.script = norm
            self._reset_state_locked()
        self.log("script loaded from %s" % path)

    def _pick_step(self, op):
        """The step for a request of operation `op`, with sequences applied."""
        with self.lock:
            script = self.script
            step = None
            where = None
            entry = script["operations"].get(op) if op is not None else None
            if entry is not None:
                q = self.queues["ops"][op]
                if q:
                    where = "operations.%s.steps[%d]" % (
                        OPERATIONS.get(op, "0x%04x" % op), len(entry["steps"]) - len(q))
                    step = q.pop(0)
                elif entry["default"] is not None:
                    step = entry["default"]
                    where = "operations.%s.default" % OPERATIONS.get(op, "0x%04x" % op)
            if step is None and self.queues["steps"]:
                where = "steps[%d]" % (len(script["steps"]) - len(self.queues["steps"]))
                step = self.queues["steps"].pop(0)
            if step is None and script["default"] is not None:
                step, where = script["default"], "default"
            if step is None:
                step, where = _builtin_step(op), "builtin"
                if op == OP_PRINT_JOB:
                    self.job_counter += 1
                    step = copy.deepcopy(step)
                    step["ipp"]["job_id"] = self.job_counter
            step = _merge(script["common"], step)
            seq = step.get("sequence")
            if seq:
                st = self.sequences.setdefault(where, {"t0": time.monotonic(), "n": 0})
                elapsed_ms = (time.monotonic() - st["t0"]) * 1000.0
                n = st["n"]
                st["n"] += 1
                chosen = len(seq) - 1
                t_acc = 0.0
                n_acc = 0
                for i, ov in enumerate(seq):
                    if "ms" in ov:
                        t_acc += float(ov["ms"])
                        if elapsed_ms < t_acc:
                            chosen = i
                            break
                    elif "count" in ov:
                        n_acc += int(ov["count"])
                        if n < n_acc:
                            chosen = i
                            break
                    else:
                        chosen = i
                        break
                step = _merge(step, seq[chosen])
                where += ".sequence[%d]" % chosen
                step.pop("sequence", None)
            return step, where, bool(script["operations"])

    # --- records ---

    def _add_record(self, rec):
        with self.lock:
            rec["index"] = len(self.records) + 1
            self.records.append(rec)
            self.changed.notify_all()
        self._write_record(rec)

    def _write_record(self, rec):
        if not self.record_dir:
            return
        base = os.path.join(self.record_dir, "%04d" % rec["index"])
        if "files" not in rec:
            for ext, key in (("head", "head"), ("bin", "raw"), ("body", "body"), ("doc", "doc")):
                with open(base + "." + ext, "wb") as f:
                    f.write(rec[key])
            rec["files"] = {ext: base + "." + ext for ext in ("json", "head", "bin", "body", "doc")}
        tmp = base + ".json.tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump(record_metadata(rec), f, indent=1)
        os.replace(tmp, base + ".json")

    def get_records(self):
        with self.lock:
            return list(self.records)

    def wait_for_records(self, count, timeout=10.0):
        """At least `count` records, waiting at most `timeout` seconds; raises TimeoutError."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while len(self.records) < count:
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError("%d of %d records after %.1f s" %
                                       (len(self.records), count, timeout))
                self.changed.wait(left)
            return list(self.records)

    def wait_for_reply_done(self, index, timeout=10.0):
        """Record `index` once its reply is done ("reply_done": outcome known, files rewritten)."""
        deadline = time.monotonic() + timeout
        with self.lock:
            while True:
                if len(self.records) >= index and self.records[index - 1].get("reply_done"):
                    return self.records[index - 1]
                left = deadline - time.monotonic()
                if left <= 0:
                    raise TimeoutError("record %d has no outcome after %.1f s" % (index, timeout))
                self.changed.wait(left)

    def clear_records(self):
        with self.lock:
            self.records = []
            self._reset_state_locked()

    # --- serving ---

    def _accept_loop(self):
        while not self.stopping.is_set():
            try:
                sock, addr = self.listener.accept()
            except socket.timeout:
                continue
            except OSError:
                if self.stopping.is_set():
                    break
                continue
            self._reload_file()
            t = threading.Thread(target=self._serve, args=(sock, addr), daemon=True,
                                 name="fake-printer-conn")
            with self.lock:
                self.conns.add(t)
            t.start()

    def _serve(self, sock, addr):
        conn = _Conn(sock, self)
        try:
            sock.setblocking(False)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            while self._serve_one(conn, addr):
                pass
        except _Closed as e:
            self.log("connection from %s:%d ended: %s" % (addr[0], addr[1], e))
        except Exception as e:  # a fault here must not kill the printer
            self.log("connection from %s:%d failed: %r" % (addr[0], addr[1], e))
        finally:
            conn._close()
            with self.lock:
                self.conns.discard(threading.current_thread())

    def _read_head(self, conn):
        buf = bytearray()
        deadline = time.monotonic() + IO_TIMEOUT_S
        while True:
            end = buf.find(b"\r\n\r\n")
            if end >= 0:
                head = bytes(buf[:end + 4])
                conn.pending[:0] = buf[end + 4:]
                return head
            if len(buf) > HEAD_LIMIT:
                raise _Closed("request head longer than %d bytes" % HEAD_LIMIT)
            data = conn.recv_some(65536, deadline)
            if not data:
                if buf:
                    self.log("client closed inside a request head (%d bytes)" % len(buf))
                return None
            buf += data

    def _serve_one(self, conn, addr):
        """One request on the connection; True to read another one (keep-alive)."""
        head = self._read_head(conn)
        if head is None:
            return False
        t_head = time.monotonic()
        text = head.decode("latin-1")
        lines = text.split("\r\n")
        request_line = lines[0]
        parts = request_line.split(" ")
        method = parts[0] if parts else ""
        target = parts[1] if len(parts) > 1 else ""
        version = parts[2] if len(parts) > 2 else ""
        headers = []
        for line in lines[1:]:
            if not line:
                continue
            name, _, value = line.partition(":")
            headers.append([name, value.strip(" \t")])

        if target.startswith("/_control/"):
            return self._control(conn, method, target, headers)

        te = [v.lower() for n, v in headers if n.lower() == "transfer-encoding"]
        cl = [v for n, v in headers if n.lower() == "content-length"]
        content_length = None
        if te and "chunked" in te[-1]:
            dec = _ChunkedBody()
        elif cl:
            try:
                content_length = int(cl[-1])
                if content_length < 0:
                    raise ValueError
                dec = _LengthBody(content_length)
            except ValueError:
                dec = _NoBody()
                dec.error = "bad Content-Length %r" % cl[-1]
        else:
            dec = _NoBody()

        rec = {"peer": "%s:%d" % addr, "time": time.time(), "request_line": request_line,
               "method": method, "target": target, "http_version": version,
               "headers": headers, "head": head, "framing": dec.framing,
               "content_length": content_length}
        raw = bytearray()
        io_deadline = [time.monotonic() + IO_TIMEOUT_S]
        client_gone = [False]

        def feed(limit):
            """Read and decode up to `limit` more raw body bytes; False when nothing more."""
            if dec.done or client_gone[0] or limit <= 0:
                return False
            try:
                data = conn.recv_some(limit, io_deadline[0])
            except _Closed as e:
                if conn.server.stopping.is_set():
                    raise
                dec.error = dec.error or str(e)
                return False
            if not data:
                client_gone[0] = True
                return False
            io_deadline[0] = time.monotonic() + IO_TIMEOUT_S
            t_ms = int((time.monotonic() - t_head) * 1000)
            used = dec.feed(data, t_ms)
            raw.extend(data[:used])
            if used < len(data):  # bytes of the next request
                conn.pending[:0] = data[used:]
            return True

        # The step may depend on the IPP operation: read until the 8-byte IPP header is in.
        # The built-in replies depend on the operation too.
        with self.lock:
            need_op = bool(self.script["operations"]) or (
                self.script["default"] is None and not self.queues["steps"])
        if need_op:
            while len(dec.body) < 8 and feed(65536):
                pass
        ipp_head = decode_ipp(dec.body) if len(dec.body) >= 8 else None
        op = ipp_head["code"] if ipp_head else None
        step, where, _ = self._pick_step(op)
        rec["step"] = where

        read_limit = step.get("read_body", "all")
        read_limit = None if read_limit == "all" else int(read_limit)
        answer_at = step.get("answer_at", "end")
        interims = _Interims(conn, step)
        conn.ticker = interims.tick
        reply = {"interims_sent": 0, "final_bytes_sent": 0, "sends": [], "outcome": None}
        rec["reply"] = reply
        answered = [False]
        ended = [None]  # the connection's end once the reply took it down

        def room():
            return 65536 if read_limit is None else min(65536, read_limit - len(raw))

        def answer():
            answered[0] = True
            request = decode_ipp(dec.body) if len(dec.body) >= 8 else None
            ended[0] = self._answer(conn, step, interims, request, reply)

        try:
            if interims.at == "head":
                interims.start()
            if answer_at == "head":
                answer()
            while not ended[0] and not dec.done and not client_gone[0] and room() > 0:
                if isinstance(interims.at, int) and not interims.started and \
                        len(raw) >= interims.at:
                    interims.start()
                if isinstance(answer_at, int) and not answered[0] and len(raw) >= answer_at:
                    answer()
                    continue
                want = room()
                if isinstance(interims.at, int) and not interims.started:
                    want = min(want, interims.at - len(raw))
                if isinstance(answer_at, int) and not answered[0]:
                    want = min(want, answer_at - len(raw))
                if not feed(want):
                    break
            self._finish_record(rec, dec, raw, ipp_head, client_gone[0])
            if not answered[0] and answer_at != "never" and not client_gone[0]:
                answer()
            if ended[0]:
                reply["outcome"] = ended[0]
                return False
            after = step.get("after", "close")
            if answer_at == "never" or (interims.forever and answered[0]):
                after = "hold"
            if client_gone[0]:
                reply["outcome"] = "client-closed"
                return False
            if after == "keep_alive":
                reply["outcome"] = "kept-alive"
                return True
            if after == "hold":
                hold = float(step.get("hold_ms", DEFAULT_HOLD_MS)) / 1000.0
                reply["outcome"] = conn.wait_client_close(time.monotonic() + hold)
                conn._close()
                return False
            if after == "reset":
                conn.reset()
                reply["outcome"] = "reset"
                return False
            conn.close_gracefully()
            reply["outcome"] = "closed"
            return False
        except _Closed as e:
            reply["outcome"] = reply["outcome"] or ("ended: %s" % e)
            if "body" not in rec:
                self._finish_record(rec, dec, raw, ipp_head, True)
            raise
        finally:
            reply["interims_sent"] = interims.sent
            reply["sends"] = list(conn.sends)
            conn.sends.clear()
            conn.ticker = None
            if "index" in rec:
                rec["reply_done"] = True
                try:
                    self._write_record(rec)
                except OSError as e:
                    self.log("record %d not written: %s" % (rec["index"], e))
                with self.lock:  # waiters see the outcome only once the files hold it too
                    self.changed.notify_all()
            self.log("%s %s -> %s (%s)" % (method, target, where, reply["outcome"]))

    def _finish_record(self, rec, dec, raw, ipp_head, client_gone):
        body = bytes(dec.body)
        ipp = decode_ipp(body)
        rec.update({
            "raw": bytes(raw), "body": body,
            "chunk_sizes": list(dec.chunk_sizes), "chunk_lines": list(dec.chunk_lines),
            "chunk_times_ms": list(dec.chunk_times_ms),
            "body_complete": dec.done and dec.error is None, "body_error": dec.error,
            "client_closed_in_body": bool(client_gone and not dec.done),
            "ipp": ipp,
        })
        end = ipp["end"] if ipp and ipp["end"] is not None else len(body)
        rec["doc"] = body[end:]
        self._add_record(rec)

    def _answer(self, conn, step, interims, request, reply):
        """Send the final reply; returns the connection's end when the reply took it down."""
        if step.get("delay_ms"):
            conn.sleep(float(step["delay_ms"]) / 1000.0)
        prefix = b""
        if not interims.started:  # "end", or a body that ended before the interims' byte count
            if interims.every <= 0:
                prefix = interims.bytes * interims.count
                interims.sent = interims.count
                interims.started = True
            else:
                interims.start()
        if interims.forever:
            return None  # the caller holds the connection, ticking interims on
        while interims.remaining():
            conn.sleep(POLL_SLICE_S)
        out = prefix + build_reply(step, request)
        cut = None
        if step.get("close_after") is not None:
            cut = ("closed-early", int(step["close_after"]))
        if step.get("reset_after") is not None:
            cut = ("reset", int(step["reset_after"]))
        if cut:
            out = out[:cut[1]]
        pieces = [int(p) for p in step.get("pieces") or []]
        pause = float(step.get("piece_pause_ms", 100)) / 1000.0
        pos = 0
        for i, size in enumerate(pieces):
            if pos >= len(out):
                break
            conn.send(out[pos:pos + size])
            pos += size
            reply["final_bytes_sent"] = pos if pos < len(out) else len(out)
            if pos < len(out):
                conn.sleep(pause)
        if pos < len(out):
            conn.send(out[pos:])
        reply["final_bytes_sent"] = len(out)
        if cut:
            if cut[0] == "reset":
                conn.reset()
            else:
                try:
                    conn.sock.shutdown(socket.SHUT_RDWR)
                except OSError:
                    pass
                conn._close()
            return cut[0]
        return None

    # --- control endpoint ---

    def _control(self, conn, method, target, headers):
        length = 0
        for n, v in headers:
            if n.lower() == "content-length":
                try:
                    length = int(v)
                except ValueError:
                    length = 0
        body = bytearray()
        deadline = time.monotonic() + 30
        while len(body) < length:
            data = conn.recv_some(length - len(body), deadline)
            if not data:
                return False
            body += data
        path, _, query = target.partition("?")
        params = dict(p.partition("=")[::2] for p in query.split("&") if p)
        status, ctype, out = 200, "application/json", b""
        try:
            parts = path.strip("/").split("/")
            if parts == ["_control", "records"] and method == "GET":
                recs = self.get_records()
                if "count" in params:
                    recs = self.wait_for_records(int(params["count"]),
                                                 float(params.get("timeout_ms", 10000)) / 1000)
                out = json.dumps([record_metadata(r) for r in recs], indent=1).encode()
            elif len(parts) == 4 and parts[:2] == ["_control", "records"] and method == "GET":
                key = {"head": "head", "bin": "raw", "body": "body", "doc": "doc"}[parts[3]]
                out = self.get_records()[int(parts[2]) - 1][key]
                ctype = "application/octet-stream"
            elif parts == ["_control", "script"] and method == "GET":
                out = json.dumps(self.script_raw, indent=1).encode()
            elif parts == ["_control", "script"] and method in ("PUT", "POST"):
                self.set_script(json.loads(bytes(body).decode("utf-8")))
                out = b'{"ok": true}'
            elif parts == ["_control", "reset"] and method == "POST":
                self.clear_records()
                out = b'{"ok": true}'
            else:
                status, out = 404, b'{"error": "no such control request"}'
        except (ValueError, KeyError, IndexError, TimeoutError) as e:
            status, out = 400, json.dumps({"error": str(e)}).encode()
        reason = HTTPStatus(status).phrase
        conn.send(("HTTP/1.1 %d %s\r\nContent-Type: %s\r\nContent-Length: %d\r\n"
                   "Connection: close\r\n\r\n" % (status, reason, ctype, len(out))).encode()
                  + out)
        conn.sends.clear()
        conn.close_gracefully()
        return False


def record_metadata(rec):
    """The JSON-friendly part of a record (bytes fields left out or summarised)."""
    meta = {k: v for k, v in rec.items() if k not in ("head", "raw", "body", "doc")}
    meta["head"] = rec.get("head", b"").decode("latin-1")
    meta["body_bytes_received"] = len(rec.get("raw", b""))
    meta["body_length"] = len(rec.get("body", b""))
    meta["doc_length"] = len(rec.get("doc", b""))
    ipp = rec.get("ipp")
    if ipp:
        meta["ipp"] = {"version": ipp["version"], "operation_id": ipp["code"],
                       "operation": OPERATIONS.get(ipp["code"], "0x%04x" % ipp["code"]),
                       "request_id": ipp["request_id"], "attributes": ipp["attributes"],
                       "length": ipp["end"], "error": ipp["error"]}
    return meta


# ---------------------------------------------------------------------------------------------
# Command line
# ---------------------------------------------------------------------------------------------


def main(argv=None):
    ap = argparse.ArgumentParser(description="Scriptable fake IPP printer on 127.0.0.1.")
    ap.add_argument("--port", type=int, default=0)
    ap.add_argument("--script")
    ap.add_argument("--script-json")
    ap.add_argument("--record")
    ap.add_argument("--ready-file")
    ap.add_argument("--rcvbuf", type=int)
    ap.add_argument("--lifetime", type=float, default=3600.0)
    ap.add_argument("--quiet", action="store_true")
    args = ap.parse_args(argv)

    script = json.loads(args.script_json) if args.script_json else None
    try:
        printer = FakePrinter(script=script, script_path=args.script, record_dir=args.record,
                              port=args.port, rcvbuf=args.rcvbuf,
                              log=None if args.quiet else sys.stderr)
        printer.start()
    except (OSError, ValueError) as e:
        sys.stderr.write("fake_printer: cannot start: %s\n" % e)
        return 2
    done = threading.Event()

    def on_signal(signum, frame):
        done.set()

    signal.signal(signal.SIGTERM, on_signal)
    signal.signal(signal.SIGINT, on_signal)
    if args.ready_file:
        tmp = args.ready_file + ".tmp"
        with open(tmp, "w") as f:
            f.write("%d\n" % printer.port)
        os.replace(tmp, args.ready_file)
    printer.log("listening on %s:%d" % (LOOPBACK, printer.port))
    done.wait(args.lifetime)
    printer.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main())
