#!/usr/bin/env python3
"""Self-test of the fake printer, driven by a plain socket client.

    python3 -m unittest -v tests/peers/test_fake_printer.py     (or run the file)
"""

import json
import os
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

import fake_printer  # noqa: E402
from fake_printer import FakePrinter, build_ipp_response, decode_ipp  # noqa: E402

URI = "ipp://127.0.0.1:631/ipp/print"


def head(port, chunked=True, version="1.1", length=None, target="/ipp/print"):
    """A request head in the monitor's shape."""
    h = "POST %s HTTP/%s\r\nConnection: Keep-Alive\r\n" % (target, version)
    if chunked:
        h += "Transfer-Encoding: chunked\r\n"
    h += "User-Agent: Nimbrel/R1.1 (WinNT40)\r\nHost: 127.0.0.1:%d\r\n" \
         "Accept: application/ipp\r\nContent-Type: application/ipp\r\n" % port
    if length is not None:
        h += "Content-Length: %d\r\n" % length
    return (h + "\r\n").encode("latin-1")


def chunk(data):
    return b"%x\r\n" % len(data) + data + b"\r\n"


def gpa_request(port, request_id=1):
    body = fake_printer.build_get_printer_attributes_request(URI, request_id)
    return head(port, chunked=False, length=len(body)) + body


def connect(port, timeout=10):
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    return s


def read_all(s, limit_s=10):
    """Everything until the printer closes the connection."""
    s.settimeout(limit_s)
    out = bytearray()
    while True:
        data = s.recv(65536)
        if not data:
            return bytes(out)
        out += data


def read_exact(s, n, limit_s=10):
    s.settimeout(limit_s)
    out = bytearray()
    while len(out) < n:
        data = s.recv(n - len(out))
        if not data:
            break
        out += data
    return bytes(out)


def exchange(port, data, limit_s=10):
    with connect(port) as s:
        s.sendall(data)
        return read_all(s, limit_s)


def split_reply(raw):
    """(head text, body bytes) of one reply."""
    end = raw.index(b"\r\n\r\n") + 4
    return raw[:end].decode("latin-1"), raw[end:]


class PrinterCase(unittest.TestCase):
    script = None
    rcvbuf = None

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="fake-printer-test-")
        self.printer = FakePrinter(script=self.script, rcvbuf=self.rcvbuf,
                                   record_dir=os.path.join(self.tmp.name, "rec"))
        self.printer.start()
        self.port = self.printer.port

    def tearDown(self):
        self.printer.stop()
        self.tmp.cleanup()


class RequestRecording(PrinterCase):
    def test_streamed_print_job_keeps_chunks_body_and_document(self):
        ipp = fake_printer.build_print_job_request(URI, 7)
        doc1 = bytes(range(256)) * 4 + b"A" * 48  # one write of 1072 bytes: 0x400, 0x18, 0x18
        doc2 = b"B" * 47
        pieces = [head(self.port) + chunk(ipp),
                  chunk(doc1[:1024]) + chunk(doc1[1024:1048]) + chunk(doc1[1048:]),
                  chunk(doc2), b"0\r\n\r\n"]
        with connect(self.port) as s:
            for p in pieces:
                s.sendall(p)
            reply = read_all(s)
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertEqual(decode_ipp(split_reply(reply)[1])["code"], 0)

        rec = self.printer.wait_for_reply_done(1)
        self.assertEqual(rec["framing"], "chunked")
        self.assertEqual(rec["chunk_sizes"], [len(ipp), 1024, 24, 24, 47, 0])
        self.assertEqual(rec["chunk_lines"][2:5], ["18\r\n", "18\r\n", "2f\r\n"])
        self.assertEqual(rec["head"], pieces[0][:len(head(self.port))])
        self.assertEqual(rec["raw"], b"".join(pieces)[len(head(self.port)):])
        self.assertEqual(rec["body"], ipp + doc1 + doc2)
        self.assertEqual(rec["doc"], doc1 + doc2)
        self.assertTrue(rec["body_complete"])
        self.assertIsNone(rec["body_error"])
        self.assertEqual(rec["ipp"]["code"], 0x0002)
        self.assertEqual(rec["ipp"]["request_id"], 7)
        self.assertIn(["Transfer-Encoding", "chunked"], rec["headers"])
        self.assertEqual(rec["reply"]["outcome"], "closed")

        base = os.path.join(self.tmp.name, "rec", "0001")
        for ext, key in (("head", "head"), ("bin", "raw"), ("body", "body"), ("doc", "doc")):
            with open(base + "." + ext, "rb") as f:
                self.assertEqual(f.read(), rec[key], ext)
        with open(base + ".json") as f:
            meta = json.load(f)
        self.assertEqual(meta["chunk_sizes"], [len(ipp), 1024, 24, 24, 47, 0])
        self.assertEqual(meta["ipp"]["operation"], "print-job")
        self.assertEqual(meta["doc_length"], len(doc1 + doc2))
        self.assertEqual(meta["reply"]["outcome"], "closed")

    def test_content_length_print_job_split_over_sends(self):
        ipp = fake_printer.build_print_job_request(URI, 3)
        doc = os.urandom(5000)
        body = ipp + doc
        with connect(self.port) as s:
            s.sendall(head(self.port, chunked=False, version="1.0", length=len(body)))
            for i in range(0, len(body), 1024):
                s.sendall(body[i:i + 1024])
            reply = read_all(s)
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"))
        rec = self.printer.wait_for_records(1)[0]
        self.assertEqual(rec["framing"], "content-length")
        self.assertEqual(rec["content_length"], len(body))
        self.assertEqual(rec["raw"], body)
        self.assertEqual(rec["doc"], doc)
        self.assertEqual(rec["http_version"], "HTTP/1.0")
        self.assertEqual(rec["chunk_sizes"], [])

    def test_bad_chunk_framing_is_reported(self):
        ipp = fake_printer.build_print_job_request(URI, 1)
        cases = [
            ("size not hexadecimal", chunk(ipp) + b"zz\r\nabc\r\n0\r\n\r\n", "bad chunk-size"),
            ("data without CRLF", chunk(ipp) + b"3\r\nabcX\r\n0\r\n\r\n", "not followed by CRLF"),
            ("empty size line", chunk(ipp) + b"\r\n0\r\n\r\n", "bad chunk-size"),
        ]
        for n, (name, body, error) in enumerate(cases, 1):
            with self.subTest(name):
                reply = exchange(self.port, head(self.port) + body)
                self.assertTrue(reply.startswith(b"HTTP/1.1 200"))
                rec = self.printer.wait_for_records(n)[n - 1]
                self.assertFalse(rec["body_complete"])
                self.assertIn(error, rec["body_error"])
                self.assertEqual(rec["chunk_sizes"][0], len(ipp))

    def test_client_closing_inside_the_body(self):
        ipp = fake_printer.build_print_job_request(URI, 1)
        with connect(self.port) as s:
            s.sendall(head(self.port) + chunk(ipp) + b"400\r\nonly a little")
        rec = self.printer.wait_for_reply_done(1)
        self.assertFalse(rec["body_complete"])
        self.assertTrue(rec["client_closed_in_body"])
        self.assertEqual(rec["doc"], b"only a little")
        self.assertEqual(rec["reply"]["outcome"], "client-closed")
        self.assertEqual(rec["reply"]["final_bytes_sent"], 0)


class InterimReplies(PrinterCase):
    script = {"operations": {
        "print-job": {"steps": [{"continue": 1, "continue_at": "head"},
                                {"continue": 2, "ipp": {"status": 0x0406}},
                                {"continue": 1, "continue_at": 100}]},
        "get-printer-attributes": {"default": {"continue": "forever", "continue_every_ms": 50,
                                               "hold_ms": 10000}}}}

    def test_interim_before_the_body_then_final(self):
        ipp = fake_printer.build_print_job_request(URI, 1)
        interim = b"HTTP/1.1 100 Continue\r\n\r\n"
        with connect(self.port) as s:
            s.sendall(head(self.port) + chunk(ipp))
            # The 100 comes before any document byte is sent.
            self.assertEqual(read_exact(s, len(interim)), interim)
            s.sendall(chunk(b"document") + b"0\r\n\r\n")
            reply = read_all(s)
        self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK\r\n"), reply[:40])
        self.assertEqual(self.printer.wait_for_records(1)[0]["doc"], b"document")

    def test_interims_in_the_same_data_as_the_final_reply(self):
        ipp = fake_printer.build_print_job_request(URI, 1)
        exchange(self.port, head(self.port) + chunk(ipp) + b"0\r\n\r\n")  # uses the first step
        reply = exchange(self.port, head(self.port) + chunk(ipp) + b"0\r\n\r\n")
        interim = b"HTTP/1.1 100 Continue\r\n\r\n"
        self.assertTrue(reply.startswith(interim * 2 + b"HTTP/1.1 200 OK\r\n"))
        body = split_reply(reply[2 * len(interim):])[1]
        self.assertEqual(decode_ipp(body)["code"], 0x0406)
        rec = self.printer.wait_for_reply_done(2)
        self.assertEqual(rec["reply"]["sends"], [len(reply)])  # one send for all three

    def test_interim_while_the_document_streams(self):
        ipp = fake_printer.build_print_job_request(URI, 1)
        interim = b"HTTP/1.1 100 Continue\r\n\r\n"
        exchange(self.port, head(self.port) + chunk(ipp) + b"0\r\n\r\n")
        exchange(self.port, head(self.port) + chunk(ipp) + b"0\r\n\r\n")
        with connect(self.port) as s:
            s.sendall(head(self.port) + chunk(ipp[:50]))
            s.sendall(chunk(ipp[50:]))  # passes 100 raw body bytes
            self.assertEqual(read_exact(s, len(interim)), interim)
            s.sendall(b"0\r\n\r\n")
            self.assertTrue(read_all(s).startswith(b"HTTP/1.1 200 OK\r\n"))
        self.assertEqual(self.printer.wait_for_reply_done(3)["reply"]["interims_sent"], 1)

    def test_interims_forever_and_no_final_reply(self):
        interim = b"HTTP/1.1 100 Continue\r\n\r\n"
        with connect(self.port) as s:
            s.sendall(gpa_request(self.port))
            got = read_exact(s, 3 * len(interim))
        self.assertEqual(got, interim * 3)
        rec = self.printer.wait_for_reply_done(1)
        self.assertEqual(rec["reply"]["outcome"], "client-closed")
        self.assertGreaterEqual(rec["reply"]["interims_sent"], 3)
        self.assertEqual(rec["reply"]["final_bytes_sent"], 0)


class ReplyDelivery(PrinterCase):
    def run_step(self, step, request=None):
        self.printer.set_script({"default": step})
        return exchange(self.port, request or gpa_request(self.port, 0x01020304))

    def test_split_reply_goes_out_in_pieces(self):
        step = {"ipp": {"printer_state": 3}, "pieces": [10, 7], "piece_pause_ms": 100}
        reply = self.run_step(step)
        expected = fake_printer.build_reply(step, decode_ipp(
            fake_printer.build_get_printer_attributes_request(URI, 0x01020304)))
        self.assertEqual(reply, expected)
        rec = self.printer.wait_for_reply_done(1)
        self.assertEqual(rec["reply"]["sends"], [10, 7, len(expected) - 17])

    def test_close_after_some_bytes(self):
        reply = self.run_step({"ipp": {}, "close_after": 20})
        self.assertEqual(reply, b"HTTP/1.1 200 OK\r\nCon")
        self.assertEqual(self.printer.wait_for_reply_done(1)["reply"]["outcome"], "closed-early")

    def test_reset_instead_of_a_reply(self):
        self.printer.set_script({"default": {"ipp": {}, "reset_after": 0}})
        with connect(self.port) as s:
            s.sendall(gpa_request(self.port))
            with self.assertRaises(ConnectionResetError):
                read_all(s)
        self.assertEqual(self.printer.wait_for_reply_done(1)["reply"]["outcome"], "reset")

    def test_reply_without_content_length_ends_with_the_connection(self):
        reply = self.run_step({"ipp": {"printer_state": 4}, "omit_content_length": True})
        text, body = split_reply(reply)
        self.assertNotIn("content-length", text.lower())
        self.assertEqual(decode_ipp(body)["attributes"]["printer-state"], [4])

    def test_head_variants(self):
        cases = [
            ("HTTP/1.0 status line", {"http_version": "HTTP/1.0", "ipp": {}},
             "HTTP/1.0 200 OK\r\n"),
            ("404 without body", {"status": 404}, "HTTP/1.1 404 Not Found\r\n"),
            ("lying Content-Length", {"ipp": {}, "content_length": 30000}, "Content-Length: 30000"),
            ("extra header", {"headers": [["content-length", "  25"]], "omit_content_length": True},
             "content-length:   25\r\n"),
            ("chunked reply", {"ipp": {}, "chunked_reply": 16}, "Transfer-Encoding: chunked\r\n"),
            ("raw reply", {"raw_text": "HTTP 200\r\n\r\n"}, "HTTP 200\r\n\r\n"),
        ]
        for name, step, needle in cases:
            with self.subTest(name):
                text = self.run_step(step).decode("latin-1")
                self.assertIn(needle, text)

    def test_delay_and_state_sequences(self):
        self.printer.set_script({"operations": {"get-printer-attributes": {"default": {
            "ipp": {"printer_state": 3},
            "sequence": [{"count": 2, "ipp": {"printer_state": 4, "printer_state_reasons":
                                              ["media-low"]}}, {}]}}}})
        states = []
        for i in range(3):
            body = split_reply(exchange(self.port, gpa_request(self.port)))[1]
            states.append(decode_ipp(body)["attributes"]["printer-state"][0])
        self.assertEqual(states, [4, 4, 3])

        self.printer.set_script({"operations": {"get-printer-attributes": {"default": {
            "ipp": {"printer_state": 3}, "sequence": [{"ms": 300, "ipp": {"printer_state": 4}}]
            + [{}]}}}})
        first = split_reply(exchange(self.port, gpa_request(self.port)))[1]
        time.sleep(0.6)
        later = split_reply(exchange(self.port, gpa_request(self.port)))[1]
        self.assertEqual(decode_ipp(first)["attributes"]["printer-state"], [4])
        self.assertEqual(decode_ipp(later)["attributes"]["printer-state"], [3])

    def test_operations_get_their_own_steps(self):
        self.printer.set_script({
            "steps": [{"status": 503}],
            "operations": {"get-printer-attributes": {"default": {"ipp": {"printer_state": 5}}},
                           "0x0002": {"steps": [{"ipp": {"status": 0x0507}}]}}})
        pj = fake_printer.build_print_job_request(URI, 1)
        pj_request = head(self.port, chunked=False, length=len(pj)) + pj
        replies = [exchange(self.port, gpa_request(self.port)), exchange(self.port, pj_request),
                   exchange(self.port, pj_request), exchange(self.port, pj_request)]
        self.assertEqual(decode_ipp(split_reply(replies[0])[1])["attributes"]["printer-state"], [5])
        self.assertEqual(decode_ipp(split_reply(replies[1])[1])["code"], 0x0507)
        self.assertTrue(replies[2].startswith(b"HTTP/1.1 503 Service Unavailable\r\n"))
        self.assertEqual(decode_ipp(split_reply(replies[3])[1])["code"], 0)  # built-in
        steps = [r["step"] for r in self.printer.wait_for_records(4)]
        self.assertEqual(steps, ["operations.get-printer-attributes.default",
                                 "operations.print-job.steps[0]", "steps[0]", "builtin"])

    def test_bad_scripts_are_refused(self):
        for script in ({"default": {"stauts": 200}}, {"default": {"ipp": {"printer_sate": 3}}},
                       {"operations": {"print-job": {"step": []}}}, {"steps": [{"after": "x"}]}):
            with self.subTest(script=script):
                with self.assertRaises(ValueError):
                    self.printer.set_script(script)


class BodyReading(PrinterCase):
    rcvbuf = 4096

    def test_stopped_reading_blocks_the_client(self):
        self.printer.set_script({"default": {"read_body": 100, "answer_at": "never",
                                             "hold_ms": 20000}})
        with connect(self.port, timeout=2) as s:
            s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 4096)
            s.sendall(head(self.port, chunked=False, length=1 << 23))
            with self.assertRaises(socket.timeout):
                s.sendall(b"x" * (1 << 23))
            # Unsent data would keep a graceful close pending for ever: reset instead.
            s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        rec = self.printer.wait_for_reply_done(1)
        self.assertEqual(len(rec["raw"]), 100)
        self.assertFalse(rec["body_complete"])
        self.assertEqual(rec["reply"]["final_bytes_sent"], 0)

    def test_early_answer_then_the_rest_of_the_body(self):
        self.printer.set_script({"default": {"answer_at": "head", "ipp": {"status": 0x040A}}})
        ipp = fake_printer.build_print_job_request(URI, 1)
        with connect(self.port) as s:
            s.sendall(head(self.port) + chunk(ipp))
            s.settimeout(10)
            got = b""
            while b"\r\n\r\n" not in got:
                got += s.recv(4096)
            text, body = split_reply(got)
            length = int(text.lower().split("content-length: ")[1].split("\r\n")[0])
            body += read_exact(s, length - len(body))
            self.assertEqual(decode_ipp(body)["code"], 0x040A)
            s.sendall(chunk(b"late data") + b"0\r\n\r\n")  # still read by the printer
            self.assertEqual(read_all(s), b"")
        rec = self.printer.wait_for_records(1)[0]
        self.assertTrue(rec["body_complete"])
        self.assertEqual(rec["doc"], b"late data")

    def test_answer_after_some_body_bytes(self):
        self.printer.set_script({"default": {"answer_at": 50, "ipp": {}}})
        with connect(self.port) as s:
            s.sendall(head(self.port, chunked=False, length=200) + b"y" * 60)
            reply = b""
            while b"\r\n\r\n" not in reply:
                reply += s.recv(4096)
            self.assertTrue(reply.startswith(b"HTTP/1.1 200 OK"))
            s.sendall(b"y" * 140)
            read_all(s)
        rec = self.printer.wait_for_records(1)[0]
        self.assertEqual(len(rec["raw"]), 200)
        self.assertTrue(rec["body_complete"])


class IppResponses(unittest.TestCase):
    def test_attribute_layout(self):
        body = build_ipp_response({
            "status": 0x0406, "version": [1, 0], "request_id": 258, "charset": None,
            "language": None, "printer_state": 4,
            "printer_state_reasons": ["media-low", "door-open"],
            "printer_make_and_model": "Maker Model"})
        expected = (b"\x01\x00\x04\x06\x00\x00\x01\x02" b"\x01" b"\x04"
                    b"\x23\x00\x0dprinter-state\x00\x04\x00\x00\x00\x04"
                    b"\x44\x00\x15printer-state-reasons\x00\x09media-low"
                    b"\x44\x00\x00\x00\x09door-open"
                    b"\x41\x00\x16printer-make-and-model\x00\x0bMaker Model"
                    b"\x03")
        self.assertEqual(body, expected)

    def test_decoded_back(self):
        request = decode_ipp(fake_printer.build_get_printer_attributes_request(URI, 0x0A0B0C0D))
        body = build_ipp_response({
            "printer_state": 5, "printer_state_reasons": ["media-low", "door-open"],
            "printer_make_and_model": "Fake",
            "unsupported": [{"tag": "enum", "name": "job-state", "value": 7}],
            "attr_tags": {"printer-state": "integer"},
            "printer_attributes": [{"tag": "boolean", "name": "printer-is-accepting-jobs",
                                    "value": True},
                                   {"tag": 0x30, "name": "raw", "value": {"hex": "00ff"}}],
            "job_id": 9}, request)
        d = decode_ipp(body)
        self.assertIsNone(d["error"])
        self.assertEqual(d["end"], len(body))
        self.assertEqual(d["version"], [1, 0])  # the request's
        self.assertEqual(d["request_id"], 0x0A0B0C0D)
        self.assertEqual([g["tag"] for g in d["groups"]], [1, 5, 4, 2])
        attrs = d["attributes"]
        self.assertEqual(attrs["printer-state-reasons"], ["media-low", "door-open"])
        self.assertEqual(attrs["printer-make-and-model"], ["Fake"])
        self.assertEqual(attrs["job-state"], [7])
        self.assertEqual(attrs["printer-is-accepting-jobs"], [True])
        self.assertEqual(attrs["raw"], [{"hex": "00ff"}])
        self.assertEqual(attrs["job-id"], [9])
        state = d["groups"][2]["attributes"][0]
        self.assertEqual((state["name"], state["tag"], state["values"]),
                         ("printer-state", 0x21, [5]))

    def test_padding_reaches_the_exact_size(self):
        for size in (150, 151, 9000, 20479, 20480, 30035, 30036, 70000):
            for desc in ({"pad_to": size, "printer_state": 3}, {"pad_to": size}):
                with self.subTest(size=size, desc=desc):
                    body = build_ipp_response(desc)
                    self.assertEqual(len(body), size)
                    d = decode_ipp(body)
                    self.assertIsNone(d["error"])
                    self.assertEqual(d["end"], size)

    def test_cut_and_odd_bodies(self):
        self.assertEqual(len(build_ipp_response({"truncate": 8})), 8)
        self.assertEqual(build_ipp_response({"trailing_hex": "aabb"})[-3:], b"\x03\xaa\xbb")
        self.assertNotIn(0x03, build_ipp_response({"end_tag": False, "charset": None,
                                                   "language": None})[8:])
        self.assertIn("truncated", decode_ipp(build_ipp_response({"truncate": 20}))["error"])
        self.assertIsNone(decode_ipp(b"\x01\x01\x00"))


class CommandLine(unittest.TestCase):
    def test_ready_file_script_reload_records_and_control(self):
        with tempfile.TemporaryDirectory(prefix="fake-printer-cli-") as tmp:
            script = os.path.join(tmp, "script.json")
            ready = os.path.join(tmp, "port")
            rec = os.path.join(tmp, "rec")
            with open(script, "w") as f:
                json.dump({"default": {"ipp": {"printer_state": 4}}}, f)
            proc = subprocess.Popen(
                [sys.executable, os.path.join(HERE, "fake_printer.py"), "--port", "0", "--script",
                 script, "--record", rec, "--ready-file", ready, "--quiet", "--lifetime", "120"])
            try:
                deadline = time.monotonic() + 20
                while not os.path.exists(ready):
                    self.assertIsNone(proc.poll(), "the printer exited")
                    self.assertLess(time.monotonic(), deadline, "no ready file")
                    time.sleep(0.05)
                with open(ready) as f:
                    port = int(f.read())

                body = split_reply(exchange(port, gpa_request(port)))[1]
                self.assertEqual(decode_ipp(body)["attributes"]["printer-state"], [4])
                with open(script, "w") as f:  # a new script, taken at the next connection
                    json.dump({"default": {"ipp": {"printer_state": 3, "printer_state_reasons":
                                                   "door-open"}}}, f)
                body = split_reply(exchange(port, gpa_request(port)))[1]
                self.assertEqual(decode_ipp(body)["attributes"]["printer-state"], [3])

                ctl = b"GET /_control/records?count=2&timeout_ms=5000 HTTP/1.1\r\nHost: x\r\n\r\n"
                records = json.loads(split_reply(exchange(port, ctl))[1])
                self.assertEqual([r["index"] for r in records], [1, 2])
                self.assertEqual(records[0]["ipp"]["operation"], "get-printer-attributes")
                for ext in ("json", "head", "bin", "body", "doc"):
                    self.assertTrue(os.path.exists(os.path.join(rec, "0002." + ext)), ext)

                new = json.dumps({"default": {"status": 500}}).encode()
                put = b"PUT /_control/script HTTP/1.1\r\nContent-Length: %d\r\n\r\n" % len(new)
                self.assertTrue(exchange(port, put + new).startswith(b"HTTP/1.1 200"))
                self.assertTrue(exchange(port, gpa_request(port)).startswith(
                    b"HTTP/1.1 500 Internal Server Error"))
                raw = exchange(port, b"GET /_control/records/1/body HTTP/1.1\r\n\r\n")
                self.assertEqual(decode_ipp(split_reply(raw)[1])["code"], 0x000B)
            finally:
                proc.send_signal(signal.SIGTERM)
                try:
                    self.assertEqual(proc.wait(15), 0)
                finally:
                    if proc.poll() is None:
                        proc.kill()
                        proc.wait(5)


if __name__ == "__main__":
    unittest.main()
