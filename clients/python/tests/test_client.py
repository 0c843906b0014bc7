"""The client against a real history server on a sample market: every
method's DataFrame and rows hold exactly the reply's fields, and every kind
of refusal becomes its exception."""

import http.client
import math
import socket
import subprocess
import sys
import unittest
from datetime import datetime, time

import pandas as pd

from histdata import BadRequest, Client, NotFound, ServerBusy
from market import HEAVY, ORDINARY, ROOT, Market


def setUpModule():
    global market, server, client
    market = Market()
    try:
        server = market.server()
    except BaseException:  # tearDownModule does not run after a failed set-up
        market.close()
        raise
    client = Client(server.url, timeout=60)


def tearDownModule():
    market.close()


def raw_reply(query):
    """The reply's lines, read with the standard library's HTTP client."""
    conn = http.client.HTTPConnection("127.0.0.1", server.port, timeout=60)
    conn.request("GET", "/?" + query)
    body = conn.getresponse().read()
    conn.close()
    return body.decode("utf-8").split("\r\n")


def day(d):
    return f"{d.year}/{d.month}/{d.day}"


def same(field, value):
    if field in ("", "-"):
        return value is None or value is pd.NA or (isinstance(value, float) and math.isnan(value))
    return float(field) == value


# The reply's fields after the date and time, in order, as the columns they become.
TICK = ["bid", "offer", "price", "bid_size", "offer_size", "volume"]
BAR = ["open", "high", "low", "close", "volume"]
COLUMNS = {"ticks": TICK, "changes": TICK, "latest": TICK, "bars": BAR, "minute_bars": BAR,
           "grid": BAR, "daily": ["high", "low", "close", "volume", "turnover"]}


class EveryMethod(unittest.TestCase):
    def cases(self):
        d, first = market.days[-1], market.days[0]
        at = lambda h, m=0: datetime.combine(d, time(h, m))
        s = ORDINARY
        return [
            ("ticks", (s, at(10), at(10, 30)), {},
             f"mode=0&dateStart={day(d)}&dateOver={day(d)}&timeStart=10:00:00&timeOver=10:30:00"),
            ("changes", (s, at(10), at(11)), {},
             f"mode=3&dateStart={day(d)}&dateOver={day(d)}&timeStart=10:00:00&timeOver=11:00:00"),
            ("latest", (s,), {}, "mode=2"),
            ("bars", (s, 300, d, d), {}, f"mode=4&interval=300&dateStart={day(d)}&dateOver={day(d)}"),
            ("minute_bars", (s, 300, at(9, 30), at(16)), {},
             f"mode=5&interval=300&dateStart={day(d)}&dateOver={day(d)}&timeStart=09:30:00&timeOver=16:00:00"),
            ("minute_bars", (s, 30, at(10), at(10, 20)), {},  # served as mode 4: a count line
             f"mode=5&interval=30&dateStart={day(d)}&dateOver={day(d)}&timeStart=10:00:00&timeOver=10:20:00"),
            ("grid", (s, 60, at(9, 20), at(10, 30)), {},
             f"mode=6&interval=60&dateStart={day(d)}&dateOver={day(d)}&timeStart=09:20:00&timeOver=10:30:00"),
            ("daily", (s, first, d), {}, f"mode=1&dateStart={day(first)}&dateOver={day(d)}"),
        ]

    def test_frames_and_rows_hold_the_reply_fields(self):
        for method, args, kwargs, query in self.cases():
            with self.subTest(method=method, query=query):
                lines = raw_reply(f"symbol={ORDINARY}&{query}")
                data = [l.split("|") for l in lines if l.startswith(("TICK|", "INTERVAL|"))]
                self.assertGreater(len(data), 0)
                df = getattr(Client(server.url), method)(*args, **kwargs)
                self.assertEqual(len(df), len(data))
                self.assertEqual(list(df.columns), COLUMNS[method])
                self.assertEqual(df.attrs["symbol"], ORDINARY)
                self.assertIn(f"NOTE|ENAME|{df.attrs['ename']}|", lines)
                self.assertIn(f"NOTE|CNAME|{df.attrs['cname']}|", lines)
                fields = [f[2:-1] for f in data]
                if method == "daily":
                    stamps = [datetime.strptime(f[0], "%Y/%m/%d") for f in fields]
                    values = [f[1:] for f in fields]
                else:
                    stamps = [datetime.strptime(f[0] + " " + f[1], "%Y/%m/%d %H:%M:%S") for f in fields]
                    values = [f[2:] for f in fields]
                self.assertEqual(list(df.index.to_pydatetime()), stamps)
                self.assertEqual(df["volume"].dtype.kind if method != "grid" else "i", "i")
                for i, row in enumerate(df.itertuples(index=False)):
                    for name, field, value in zip(df.columns, values[i], row):
                        if method == "grid" and name == "volume" and field == "-" and values[i][0] != "-":
                            self.assertEqual(value, 0)  # a bar without volume
                        else:
                            self.assertTrue(same(field, value), (i, name, field, value))
                if method != "latest":
                    rows = list(getattr(client, method)(*args, stream=True, **kwargs))
                    self.assertEqual([r[0] for r in rows], stamps)
                    for r, frame_row in zip(rows, df.itertuples(index=False)):
                        for a, b in zip(r[1:], frame_row):
                            self.assertTrue((a is None and pd.isna(b)) or a == b, (r, frame_row))
        grid = client.grid(ORDINARY, 60, *self.cases()[6][1][2:])
        self.assertTrue(grid.iloc[0].isna().all())  # 09:20, before the first tick

    def test_operator_pass_through_gives_the_same_frame(self):
        if server.admin_url is None:
            self.skipTest("this server has no operator's listener")
        d = market.days[-1]
        via = Client(server.admin_url + "history").grid(ORDINARY, 300, d, d)
        pd.testing.assert_frame_equal(via, client.grid(ORDINARY, 300, d, d))
        self.assertEqual(via.attrs, client.grid(ORDINARY, 300, d, d).attrs)

    def test_command_line_prints_the_rows(self):
        d = market.days[-1]
        out = subprocess.run(
            [sys.executable, "-m", "histdata", "--url", server.url, "bars", ORDINARY, "--interval", "600",
             "--start", d.isoformat(), "--end", d.isoformat()],
            capture_output=True, text=True, check=True, cwd=ROOT + "/clients/python").stdout.splitlines()
        df = client.bars(ORDINARY, 600, d, d)
        self.assertEqual(out[0], "time,open,high,low,close,volume")
        self.assertEqual(len(out) - 1, len(df))
        first = out[1].split(",")
        self.assertEqual(first[0], str(df.index[0]))
        self.assertEqual(float(first[4]), df["close"].iloc[0])


class Refusals(unittest.TestCase):
    def test_not_found(self):
        d = market.days[-1]
        for call in (lambda: client.ticks("NOSUCH", d, d),       # two ERROR lines
                     lambda: client.latest("NOSUCH"),            # no CR LF after it
                     lambda: client.daily("NOSUCH", d, d),       # no CR LF after it
                     lambda: client.grid(ORDINARY, 60, d.replace(year=d.year - 1), d.replace(year=d.year - 1))):
            with self.assertRaises(NotFound) as caught:
                call()
            self.assertIn("Record not found.", caught.exception.messages)

    def test_bad_request(self):
        d = market.days[-1]
        with self.assertRaises(BadRequest) as caught:
            client.bars(ORDINARY, 0, d, d)
        self.assertEqual(caught.exception.messages, ["Invalid interval."])
        with self.assertRaises(ValueError):
            client.ticks(ORDINARY, d, None)

    def test_server_busy_while_every_module_serves(self):
        busy = market.server(MaxConnection=1)
        d0, d1 = market.days[0], market.days[-1]
        held = socket.socket()
        held.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        held.connect(("127.0.0.1", busy.port))
        try:
            # Several MB of ticks read a few bytes only: the one module stays
            # busy writing them.
            held.sendall(f"GET /?symbol={HEAVY}&dateStart={day(d0)}&dateOver={day(d1)} HTTP/1.1\r\n"
                         "Host: x\r\n\r\n".encode())
            head = b""
            while b"\r\n\r\n" not in head:
                head += held.recv(1)
            self.assertTrue(head.startswith(b"HTTP/1.1 200"))
            with self.assertRaises(ServerBusy) as caught:
                Client(busy.url).latest(ORDINARY)
            self.assertEqual(caught.exception.status, 500)
            self.assertIn("Maximum number of concurrent connections exceeded", str(caught.exception))
        finally:
            held.close()


if __name__ == "__main__":
    unittest.main()
