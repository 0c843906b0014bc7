#!/usr/bin/env python3
"""Coverage-guided fuzzing of the Python client's reply reading: the HTTP
head, the chunked, sized and until-close bodies, the reply's lines and their
fields, through both ways a caller gets them (a DataFrame, and rows as they
come). No input may raise anything but the client's own HistDataError, hang,
or give a DataFrame and rows that disagree.

    reply_fuzz.py CORPUS SEEDS [-max_total_time=S] [-artifact_prefix=P]
                  [-timeout=S] [-rss_limit_mb=M] [-max_len=N] [-seed=N]
    reply_fuzz.py FILE...        replays inputs (a finding) and shows the result

Options as libFuzzer's; other "-name=value" options are taken and ignored.
An input is a mode digit, a framing letter and the bytes the server sent:
"r" the whole response as it is; "c" a body sent one chunk per line, as the
server does; "l" a body with its Content-Length; "e" a body ended by the
close. The stdlib has no libFuzzer: coverage is the set of line-to-line steps
taken inside the client's package, seen through sys.settrace."""

import hashlib
import math
import os
import random
import resource
import signal
import socket
import sys
import time
import traceback
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.normpath(os.path.join(HERE, "..", "..", "clients", "python")))

import numpy as np  # noqa: E402
import pandas as pd  # noqa: E402

import histdata  # noqa: E402
from histdata import Client, HistDataError  # noqa: E402
from histdata.layouts import LAYOUTS  # noqa: E402
from histdata.reply import RESTART, Reply  # noqa: E402
from histdata.transport import Connection  # noqa: E402

PACKAGE = os.path.dirname(os.path.abspath(histdata.__file__)) + os.sep
MAX_LEN = 8192  # bytes of an input, after its mode and framing
TIMEOUT = 10  # seconds for one input, then it is a hang

FRAMINGS = b"rcle"
TOKENS = [b"|", b"\r\n", b"\n", b"\r", b"-", b"0", b"9", b"/", b":", b".", b"e", b" ",
          b"NOTE|RECORDCOUNT|", b"NOTE|ENAME|", b"NOTE|CNAME|", b"ERROR|", b"TICK|0|",
          b"INTERVAL|", b"ERROR|Record not found.|", b"nan", b"inf", b"-1", b"+", b"_",
          b"99999999999999999999", b"1e400", b"0x", b"2026/2/30", b"24:00:00", b"\xff",
          b"\x00", b";x", b"Transfer-Encoding: chunked\r\n", b"Content-Length: 9\r\n",
          b"HTTP/1.1 200 OK\r\n", b"HTTP/1.1 503 Busy\r\n", b"\r\n\r\n", b"0\r\n\r\n"]
FIELDS = [b"", b"-", b"0", b"-0", b"+1", b"1.5", b"1e3", b"nan", b"inf", b"1_0", b" 7",
          b"99999999999999999999", b"9223372036854775808", b"-9223372036854775809",
          b"2026/12/7", b"2026/02/30", b"1/1/1", b"99999/1/1", b"2026/13/1",
          b"10:00:00", b"23:59:59", b"24:00:00", b"10:00", b"1:2:3:4", b"2026/12/7 10:00:00",
          b"2026/12/7 99999999999999999999:0:0", b"\xe6\x9d\x9c"]


class Hang(BaseException):
    pass


# -- the server stand-in

class FakeSocket:
    """Hands out the response in pieces; empty reads at its end."""

    def __init__(self, pieces):
        self._pieces = pieces
        self._next = 0

    def recv(self, size):
        if self._next >= len(self._pieces):
            return b""
        piece = self._pieces[self._next]
        if len(piece) > size:
            self._pieces[self._next] = piece[size:]
            return piece[:size]
        self._next += 1
        return piece

    def sendall(self, data):
        pass

    def settimeout(self, seconds):
        pass

    def close(self):
        pass


def response(data):
    """(mode, the response's bytes) of an input."""
    mode = data[0] - ord("0") if data and ord("0") <= data[0] <= ord("6") else data[0] % 7 if data else 0
    framing = data[1:2] or b"r"
    body = data[2:]
    if framing == b"r" or framing not in (b"c", b"l", b"e"):
        return mode, body
    head = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n"
    if framing == b"c":
        chunks = [b"%x\r\n%s\r\n" % (len(line), line) for line in body.splitlines(True)]
        return mode, head + b"Transfer-Encoding: chunked\r\n\r\n" + b"".join(chunks) + b"0\r\n\r\n"
    if framing == b"l":
        return mode, head + b"Content-Length: %d\r\n\r\n" % len(body) + body
    return mode, head + b"\r\n" + body


def pieces(data, whole):
    """The response cut as the input's checksum says: reads of a few bytes,
    of a line's size, or all at once."""
    rng = random.Random(zlib.crc32(data))
    out, at = [], 0
    while at < len(whole):
        n = rng.choice((1, 2, 3, 7, 40, 300, 1 << 16))
        out.append(whole[at:at + n])
        at += n
    return out


def serve(data):
    mode, whole = response(data)
    socket.create_connection = lambda address, timeout=None: FakeSocket(pieces(data, whole))
    return mode


# -- one input

def same_value(a, b):
    missing_a = a is None or a is pd.NA or (isinstance(a, float) and math.isnan(a))
    missing_b = b is None or b is pd.NA or (isinstance(b, float) and math.isnan(b))
    if missing_a or missing_b:
        return missing_a and missing_b
    return a == b


def compare(df, rows):
    """What differs between a reply's DataFrame and its rows, or None."""
    if len(df) != len(rows):
        return f"{len(df)} DataFrame rows, {len(rows)} rows"
    for i, row in enumerate(rows):
        if pd.Timestamp(row[0]) != df.index[i]:
            return f"row {i}: time {row[0]} against {df.index[i]}"
        for name, value in zip(row._fields[1:], row[1:]):
            cell = df[name].iloc[i]
            if isinstance(cell, np.generic):
                cell = cell.item()
            if not same_value(value, cell):
                return f"row {i}: {name} {value!r} against {cell!r}"
    return None


def outside_pandas(when):
    """A date and time a DataFrame's index (nanoseconds, 1677-2262) cannot hold."""
    return not pd.Timestamp.min <= pd.Timestamp(when) <= pd.Timestamp.max \
        if 1677 < when.year < 2263 else True


def restarted(data):
    """Whether the reply began again: rows handed out before that are not
    taken back, so the rows refuse a reply whose DataFrame keeps the last try."""
    mode = serve(data)
    with Connection("http://fuzz.invalid:1/", {}, 1) as conn:
        return any(b is RESTART for b in Reply(LAYOUTS[mode], conn.lines()).batches(1))


def run_one(data):
    """None, or what is wrong with this input's handling."""
    client = Client("http://fuzz.invalid:1/", timeout=1)
    mode = serve(data)
    try:
        df, frame_error = client.request(mode, "X", {}), None
    except HistDataError as e:
        df, frame_error = None, e
    serve(data)
    try:
        rows, rows_error = list(client.request(mode, "X", {}, stream=True)), None
    except HistDataError as e:
        rows, rows_error = None, e
    if frame_error is None and rows_error is None:
        diff = compare(df, rows)
        return diff and f"DataFrame and rows differ: {diff}"
    if frame_error is None and not restarted(data):
        return f"rows refused what the DataFrame took: {rows_error!r}"
    if rows_error is None and not any(outside_pandas(r[0]) for r in rows):
        return f"the DataFrame refused what rows took: {frame_error!r}"
    return None


# -- coverage

class Coverage:
    def __init__(self):
        self.steps = set()
        self.new = 0

    def _local(self, prev):
        def trace(frame, event, arg):
            if event == "line":
                step = (frame.f_code.co_filename, prev[0], frame.f_lineno)
                if step not in self.steps:
                    self.steps.add(step)
                    self.new += 1
                prev[0] = frame.f_lineno
            return trace
        return trace

    def _global(self, frame, event, arg):
        if frame.f_code.co_filename.startswith(PACKAGE):
            return self._local([frame.f_lineno])
        return None

    def run(self, data):
        """(what is wrong or None, whether the input took a new step)."""
        self.new = 0
        signal.setitimer(signal.ITIMER_REAL, TIMEOUT)
        sys.settrace(self._global)
        try:
            fault = run_one(data)
        except Hang:
            fault = f"no answer within {TIMEOUT} s"
        except BaseException:
            fault = "raised " + traceback.format_exc()
        finally:
            sys.settrace(None)
            signal.setitimer(signal.ITIMER_REAL, 0)
        return fault, self.new > 0


# -- mutation

def mutate(rng, data, corpus):
    head, body = bytearray(data[:2].ljust(2, b"r")), bytearray(data[2:])
    for _ in range(rng.randint(1, 4)):
        op = rng.randrange(11)
        at = rng.randint(0, len(body))
        if op == 0 and body:
            body[min(at, len(body) - 1)] ^= 1 << rng.randrange(8)
        elif op == 1:
            body[at:at] = rng.choice(TOKENS)
        elif op == 2 and body:
            body[at:at + rng.randint(1, 16)] = b""
        elif op == 3 and body:
            n = rng.randint(1, 32)
            body[at:at] = body[at:at + n]
        elif op == 4:
            other = rng.choice(corpus)[2:]
            if other:
                i = rng.randrange(len(other))
                body[at:at] = other[i:i + rng.randint(1, 64)]
        elif op in (5, 6, 7):
            lines = bytes(body).split(b"\n")
            i, j = rng.randrange(len(lines)), rng.randrange(len(lines))
            if op == 5:
                del lines[i]
            elif op == 6:
                lines.insert(i, lines[j])
            else:
                lines[i], lines[j] = lines[j], lines[i]
            body = bytearray(b"\n".join(lines))
        elif op in (8, 9):
            lines = bytes(body).split(b"\n")
            i = rng.randrange(len(lines))
            fields = lines[i].split(b"|")
            k = rng.randrange(len(fields))
            fields[k] = rng.choice(FIELDS) if op == 8 else str(rng.choice(
                (-1, 0, 1, 2, 59, 60, 2**31, 2**63, rng.randint(-99, 99)))).encode()
            lines[i] = b"|".join(fields)
            body = bytearray(b"\n".join(lines))
        elif op == 10:
            if rng.random() < 0.5:
                head[0] = ord("0") + rng.randrange(7)
            else:
                head[1] = rng.choice(FRAMINGS)
    return bytes(head + body[:MAX_LEN])


# -- driver

def options(args):
    opts, paths = {}, []
    for a in args:
        if a.startswith("-") and "=" in a:
            key, value = a[1:].split("=", 1)
            opts[key] = value
        else:
            paths.append(a)
    return opts, paths


def read_inputs(folder):
    out = []
    for name in sorted(os.listdir(folder)):
        with open(os.path.join(folder, name), "rb") as f:
            out.append(f.read()[:MAX_LEN + 2])
    return out


def replay(paths):
    failed = 0
    for path in paths:
        with open(path, "rb") as f:
            fault, _ = Coverage().run(f.read())
        print(f"{path}: {fault or 'ok'}")
        failed += fault is not None
    return 1 if failed else 0


def fuzz(opts, folders):
    corpus_dir = folders[0]
    os.makedirs(corpus_dir, exist_ok=True)
    total = float(opts.get("max_total_time", 0)) or math.inf
    prefix = opts.get("artifact_prefix", "./")
    rng = random.Random(int(opts.get("seed", time.time_ns())))
    cov = Coverage()
    corpus = []
    for folder in folders:
        for data in read_inputs(folder):
            fault, _ = cov.run(data)
            if fault:
                return finding(prefix, data, fault)
            corpus.append(data)
    if not corpus:
        corpus.append(b"0c")
    print(f"#{len(corpus)} INITED cov: {len(cov.steps)} corp: {len(corpus)}", file=sys.stderr)
    start = last = time.monotonic()
    runs = 0
    stop = []
    # Interrupted (as a timed run ends), it stops after the input at hand.
    signal.signal(signal.SIGINT, lambda signum, frame: stop.append(signum))
    while time.monotonic() - start < total and not stop:
        data = mutate(rng, rng.choice(corpus), corpus)
        runs += 1
        fault, new = cov.run(data)
        if fault:
            return finding(prefix, data, fault)
        if new:
            corpus.append(data)
            with open(os.path.join(corpus_dir, hashlib.sha1(data).hexdigest()), "wb") as f:
                f.write(data)
        now = time.monotonic()
        if now - last >= 10:
            last = now
            print(f"#{runs} cov: {len(cov.steps)} corp: {len(corpus)} "
                  f"exec/s: {runs / (now - start):.0f}", file=sys.stderr)
    print(f"#{runs} {'INTERRUPTED' if stop else 'DONE'} cov: {len(cov.steps)} corp: {len(corpus)}",
          file=sys.stderr)
    print(f"stat::number_of_executed_units: {runs}", file=sys.stderr)
    return 0


def finding(prefix, data, fault):
    path = prefix + "crash-" + hashlib.sha1(data).hexdigest()
    with open(path, "wb") as f:
        f.write(data)
    print(f"finding: {fault}\ninput saved as {path}: {data[:300]!r}", file=sys.stderr)
    return 1


def on_alarm(signum, frame):
    raise Hang()


def main(args):
    global MAX_LEN, TIMEOUT
    opts, paths = options(args)
    MAX_LEN = int(opts.get("max_len", MAX_LEN))
    TIMEOUT = int(opts.get("timeout", TIMEOUT))
    signal.signal(signal.SIGALRM, on_alarm)
    # The address space, not the resident set: an input that makes the
    # client hoard memory fails with MemoryError, which is a finding.
    limit = int(opts.get("rss_limit_mb", 2048)) << 20
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
    if paths and all(os.path.isfile(p) for p in paths):
        return replay(paths)
    if not paths or not all(os.path.isdir(p) for p in paths):
        print(__doc__, file=sys.stderr)
        return 2
    return fuzz(opts, paths)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
