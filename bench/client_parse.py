#!/usr/bin/env python3
"""The Python client's parse in bench/run: a saved mode 0 reply body turned
into a DataFrame by the client, against pandas.read_csv on the same lines.

    client_parse.py BODY_FILE REPS

"parse": the client's line reader and converter fed the body's lines from
memory; "http": the whole client (request, chunked body, parse) against a
loopback server that sends the body one chunk per line, as the history
server does; "read_csv": pandas.read_csv(sep="|") of the body's data lines
from memory.
Prints "name median=S min=S max=S" lines (seconds, REPS runs after one
warm-up) and the row count. Times are the process's CPU time, which
a busy machine disturbs far less than the elapsed time (the loopback
server's thread is in the same process; its share is small).
"""
import io
import os
import socket
import statistics
import sys
import threading
import time

import pandas as pd

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "clients", "python"))
from histdata import Client  # noqa: E402
from histdata.client import read_frame  # noqa: E402
from histdata.layouts import LAYOUTS  # noqa: E402


def serve(listener, reply):
    while True:
        conn, _ = listener.accept()
        with conn:
            data = b""
            while b"\r\n\r\n" not in data:
                data += conn.recv(4096)
            conn.sendall(reply)


def timed(f, reps):
    f()
    times = []
    for _ in range(reps):
        start = time.process_time()
        result = f()
        times.append(time.process_time() - start)
    return times, result


def main():
    body = open(sys.argv[1], "rb").read()
    reps = int(sys.argv[2])
    lines = body.splitlines(keepends=True)
    data = b"".join(l for l in lines if l.startswith(b"TICK|"))
    chunked = b"".join(b"%x\r\n%s\r\n" % (len(l), l) for l in lines) + b"0\r\n\r\n"
    reply = b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nTransfer-Encoding: chunked\r\n\r\n" + chunked
    listener = socket.create_server(("127.0.0.1", 0))
    threading.Thread(target=serve, args=(listener, reply), daemon=True).start()
    client = Client(f"http://127.0.0.1:{listener.getsockname()[1]}/")
    runs = {
        "parse": lambda: read_frame(LAYOUTS[0], iter(lines)),
        "http": lambda: client.ticks("X"),
        "read_csv": lambda: pd.read_csv(io.BytesIO(data), sep="|", header=None),
    }
    rows = None
    for name, f in runs.items():
        times, df = timed(f, reps)
        rows = rows or len(df)
        print(f"{name} median={statistics.median(times):.4f} min={min(times):.4f} max={max(times):.4f}")
    print(f"rows={rows}")


if __name__ == "__main__":
    main()
