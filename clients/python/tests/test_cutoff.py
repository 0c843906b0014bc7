"""Replies that break off or break the rules, from a tiny server that sends
set bytes: none may pass for a whole answer."""

import socket
import threading
import unittest
from datetime import date

import pandas as pd

from histdata import Client, IncompleteReply, NotFound, ProtocolError, ServerBusy

HEAD = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n"
NAMES = [b"NOTE|ENAME|Acme|\r\n", b"NOTE|CNAME|Acme Co|\r\n"]
TICKS = [b"TICK|%d|2026/12/7|10:00:0%d|1.5|1.6|1.55|100|200|%d|\r\n" % (i, i, 300 + i) for i in range(3)]
COUNT = b"NOTE|RECORDCOUNT|3|\r\n"
DAILY = [b"TICK|%d|2026/12/%d|2|1|1.5|1000|1500.5|\r\n" % (i, i + 1) for i in range(2)]


def known(value):
    """None for each way a DataFrame or a row says a value is missing."""
    return None if value is None or value is pd.NA or value != value else value


def chunked(lines, end=True):
    body = b"".join(b"%x\r\n%s\r\n" % (len(l), l) for l in lines)
    return body + (b"0\r\n\r\n" if end else b"")


class FakeServer:
    """Answers each connection with the next reply of `replies`, then closes."""

    def __init__(self):
        self.listener = socket.create_server(("127.0.0.1", 0))
        self.url = f"http://127.0.0.1:{self.listener.getsockname()[1]}/"
        self.replies = []
        threading.Thread(target=self._serve, daemon=True).start()

    def _serve(self):
        while True:
            try:
                conn, _ = self.listener.accept()
            except OSError:
                return
            with conn:
                try:
                    request = b""
                    while b"\r\n\r\n" not in request:
                        request += conn.recv(4096)
                    conn.sendall(self.replies.pop(0))
                except OSError:  # the client gave up first
                    pass


class CutOff(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.fake = FakeServer()
        cls.client = Client(cls.fake.url, timeout=30)

    @classmethod
    def tearDownClass(cls):
        cls.fake.listener.close()

    def answer(self, *replies):
        self.fake.replies[:] = replies

    def test_whole_reply_passes(self):
        body = b"".join(NAMES + TICKS + [COUNT])
        pieces = [body[i:i + 7] for i in range(0, len(body), 7)]  # lines across chunks
        self.answer(HEAD + chunked(NAMES + TICKS + [COUNT]), HEAD + chunked(pieces),
                    HEAD.replace(b"Transfer-Encoding: chunked", b"Content-Length: %d" % len(body)) + body)
        for _ in range(3):
            df = self.client.ticks("X")
            self.assertEqual(list(df["volume"]), [300, 301, 302])
            self.assertEqual(list(df["price"]), [1.55] * 3)
            self.assertEqual((df.attrs["ename"], df.attrs["cname"], df.attrs["record_count"]),
                             ("Acme", "Acme Co", 3))

    def test_broken_chunked_body(self):
        whole = chunked(NAMES + TICKS + [COUNT])
        for body, what in ((whole[:-5], "no last chunk"),
                           (whole[:len(whole) // 2], "stops inside a chunk"),
                           (chunked(NAMES + TICKS, end=False), "stops between chunks")):
            with self.subTest(what):
                self.answer(HEAD + body)
                with self.assertRaises(IncompleteReply):
                    self.client.ticks("X")

    def test_reply_without_its_closing_line(self):
        for mode, lines in ((0, NAMES + TICKS), (1, NAMES + DAILY), (0, []), (2, NAMES),
                            (0, NAMES + TICKS[:2] + [TICKS[2][:-2]])):
            with self.subTest(mode=mode, lines=len(lines)):
                self.answer(HEAD + chunked(lines))
                with self.assertRaises(IncompleteReply):
                    self.client.request(mode, "X", {})

    def test_rows_stream_then_raise(self):
        self.answer(HEAD + chunked(NAMES + TICKS))
        rows = self.client.ticks("X", stream=True)
        self.assertEqual(next(rows).volume, 300)
        with self.assertRaises(IncompleteReply):
            list(rows)

    def test_lines_that_break_the_rules(self):
        for lines in (NAMES + TICKS + [b"NOTE|RECORDCOUNT|4|\r\n"],    # count disagrees
                      NAMES + [TICKS[0], TICKS[2], b"NOTE|RECORDCOUNT|2|\r\n"],  # a number skipped
                      NAMES + TICKS + [COUNT, TICKS[0]],               # data after the count
                      NAMES + [TICKS[0].replace(b"|100|", b"|100|7|")] + TICKS[1:] + [COUNT]):
            with self.subTest(lines=lines):
                self.answer(HEAD + chunked(lines), HEAD + chunked(lines))
                with self.assertRaises(ProtocolError):
                    self.client.ticks("X")
                with self.assertRaises(ProtocolError):
                    list(self.client.ticks("X", stream=True))

    def test_error_text_without_line_end(self):
        self.answer(HEAD + chunked(NAMES + [b"ERROR|Record not found.|"]))
        with self.assertRaises(NotFound):
            self.client.daily("X", date(2026, 12, 1), date(2026, 12, 2))

    def test_retried_daily_reply_keeps_the_try_that_finished(self):
        # A store error after the first line: the server writes the reply again.
        self.answer(HEAD + chunked(NAMES + DAILY[:1] + NAMES + DAILY + [b"NOTE|RECORDCOUNT|2|\r\n"]))
        df = self.client.daily("X", date(2026, 12, 1), date(2026, 12, 2))
        self.assertEqual(list(df["turnover"]), [1500.5, 1500.5])
        self.assertEqual([d.day for d in df.index], [1, 2])

    def test_hostile_http_framing_is_refused(self):
        body = chunked(NAMES + TICKS + [COUNT])
        for reply in (HEAD + b"-2\r\n" + body,                                  # a negative size
                      HEAD + b"+" + body, HEAD + body[:1] + b"_" + body[1:],
                      HEAD.replace(b"200", b"\xb200") + body,                     # not ASCII digits
                      HEAD.replace(b"Transfer-Encoding: chunked", b"Content-Length: -1")):
            with self.subTest(reply=reply[:120]):
                self.answer(reply)
                with self.assertRaises(ProtocolError):
                    self.client.ticks("X")

    def test_frames_and_rows_take_the_same_fields(self):
        # Each line is taken or refused alike by the DataFrame and the rows,
        # and a number taken is the one its text says.
        def tick(fields):
            return b"TICK|0|" + fields + b"|\r\n"
        refused = [tick(b"2026/12/7|10:00:00|1_0|1|1|1|1|1"),    # float() alone takes these
                   tick(b"2026/12/7|10:00:00|1e3|1|1|1|1|1"),
                   tick(b"2026/12/7|10:00:00|+1|1|1|1|1|1"),
                   tick(b"2026/12/7|10:00:00| 1|1|1|1|1|1"),
                   tick(b"2026/12/7|10:00:00|NAN|1|1|1|1|1"),
                   tick(b"99999999999999999999/1/1|10:00:00|1|1|1|1|1|1"),
                   tick(b"2026/12/7|10:00|1|1|1|1|1|1"),
                   tick(b"2026/12/7|10|0:00:1|1|1|1|1|1"),         # the time's ":" in the next field
                   tick(b"2026/12/7|10:00:00|1|1|1|1|") +       # a field moved to the next line
                   tick(b"2026/12/7|10:00:01||1|1|1|1|1|1").replace(b"|0|", b"|1|", 1)]
        for line in refused:
            with self.subTest(line=line):
                self.answer(HEAD + chunked([line, b"NOTE|RECORDCOUNT|%d|\r\n" % line.count(b"\n")]),
                            HEAD + chunked([line, b"NOTE|RECORDCOUNT|%d|\r\n" % line.count(b"\n")]))
                with self.assertRaises(ProtocolError):
                    self.client.ticks("X")
                with self.assertRaises(ProtocolError):
                    list(self.client.ticks("X", stream=True))
        prices = (b"60.699999999999996", b"9223372036854775808", b"123456789012.34")
        line = tick(b"2026/12/7|10:00:00|" + b"|".join(prices) + b"|1|1|98765432109876543210")
        for stream in (False, True):
            with self.subTest(stream=stream):
                self.answer(HEAD + chunked([line, b"NOTE|RECORDCOUNT|1|\r\n"]))
                got = self.client.ticks("X", stream=stream)
                got = next(iter(got)) if stream else next(got.itertuples())
                self.assertEqual((got.bid, got.offer, got.price), tuple(float(p) for p in prices))
                self.assertEqual(got.volume, float(b"98765432109876543210"))

    def test_grid_lines_empty_whole_or_not_at_all(self):
        def bar(i, fields):
            return b"INTERVAL|%d|2026/12/7|10:%02d:00|%s|\r\n" % (i, i, fields)
        for fields, taken in ((b"-|-|-|-|-", (None, None)), (b"||||", (None, None)),
                              (b"1|2|0.5|1.5|-", (1.0, 0)), (b"1|2|-|1.5|7", None),
                              (b"-|-|-|-|7", None)):
            lines = [bar(0, b"1|1|1|1|5"), bar(1, fields), b"NOTE|RECORDCOUNT|2|\r\n"]
            with self.subTest(fields=fields):
                self.answer(HEAD + chunked(lines), HEAD + chunked(lines))
                if taken is None:
                    with self.assertRaises(ProtocolError):
                        self.client.grid("X", 60)
                    with self.assertRaises(ProtocolError):
                        list(self.client.grid("X", 60, stream=True))
                    continue
                df = self.client.grid("X", 60)
                rows = list(self.client.grid("X", 60, stream=True))
                for opened, volume in ((df["open"].iloc[1], df["volume"].iloc[1]),
                                       (rows[1].open, rows[1].volume)):
                    self.assertEqual((known(opened), known(volume)), taken)

    def test_pool_refusal(self):
        body = b"<html><title>Internal Server Error 500</title></html>\r\n"
        self.answer(b"HTTP/1.1 500 Maximum number of concurrent connections exceeded.  Please try again "
                    b"later\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n%s" % (len(body), body))
        with self.assertRaises(ServerBusy) as caught:
            self.client.latest("X")
        self.assertIn("Please try again later", str(caught.exception))


if __name__ == "__main__":
    unittest.main()
