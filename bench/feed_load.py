#!/usr/bin/env python3
"""Load for the live-feed benchmark (bench/feed.sh).

  feed_load.py gen FILE COUNT DATE [--until HH:MM:SS]
      COUNT ticks of DATE (yyyy-mm-dd) over 200 symbols, times spread evenly
      from 00:00:00 to --until (default 23:59:59), with a header line.
  feed_load.py pace FILE RATE SECONDS
      appends RATE ticks a second of today, stamped now, to FILE for SECONDS;
      prints "written=N seconds=S".
  feed_load.py latency FILE PORT COUNT
      appends COUNT ticks of symbol LATENCY, one at a time, each stamped an
      hour and a second ago so that mode 2 serves it as the newest, and
      times until the server's mode 2 reply holds it; prints
      "p50=.. p99=.. max=.." in seconds.
"""
import datetime
import os
import sys
import time
import urllib.request


def line(day, ms, symbol, n):
    return "%s,%02d:%02d:%02d.%03d,%s,1.5,1.6,%.2f,100,%d,200\n" % (
        day, ms // 3600000, ms // 60000 % 60, ms // 1000 % 60, ms % 1000, symbol, 10 + n % 100, n)


def gen(path, count, day, until="23:59:59"):
    h, m, s = (int(x) for x in until.split(":"))
    span = ((h * 60 + m) * 60 + s) * 1000
    with open(path, "w") as out:
        out.write("Date,Time,Symbol,Bid,Offer,Price,BidSize,Volume,OfferSize\n")
        chunk = []
        for n in range(count):
            chunk.append(line(day, span * n // count, "B%03d" % (n % 200), n))
            if len(chunk) == 10000:
                out.write("".join(chunk))
                chunk = []
        out.write("".join(chunk))


def pace(path, rate, seconds):
    step = 0.01
    per_step = max(1, int(rate * step))
    written = 0
    start = time.monotonic()
    fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT, 0o644)
    while time.monotonic() - start < seconds:
        now = datetime.datetime.now()
        day = now.strftime("%Y-%m-%d")
        ms = ((now.hour * 60 + now.minute) * 60 + now.second) * 1000 + now.microsecond // 1000
        os.write(fd, "".join(line(day, ms, "P%03d" % ((written + k) % 200), written + k)
                             for k in range(per_step)).encode())
        written += per_step
        # Keep to the schedule, not to the previous write.
        wait = start + written / rate - time.monotonic()
        if wait > 0:
            time.sleep(wait)
    os.close(fd)
    print("written=%d seconds=%.2f" % (written, time.monotonic() - start))


def latency(path, port, count):
    url = "http://127.0.0.1:%d/?symbol=LATENCY&mode=2" % port
    samples = []
    base = datetime.datetime.now() - datetime.timedelta(hours=1, seconds=30)
    for n in range(count):
        at = base + datetime.timedelta(milliseconds=10 * n)
        volume = 900000000 + n
        ms = ((at.hour * 60 + at.minute) * 60 + at.second) * 1000 + at.microsecond // 1000
        text = line(at.strftime("%Y-%m-%d"), ms, "LATENCY", 0).replace(",0,200\n", ",%d,200\n" % volume)
        want = "|%d|" % volume
        start = time.monotonic()
        with open(path, "a") as out:
            out.write(text)
        while True:
            body = urllib.request.urlopen(url, timeout=10).read().decode()
            if want in body:
                break
            if time.monotonic() - start > 30:
                sys.exit("tick %d not served after 30 s: %s" % (n, body[:200]))
            time.sleep(0.002)
        samples.append(time.monotonic() - start)
    samples.sort()
    pick = lambda q: samples[min(len(samples) - 1, int(q * len(samples)))]
    print("p50=%.4f p99=%.4f max=%.4f" % (pick(0.5), pick(0.99), samples[-1]))


if __name__ == "__main__":
    kind = sys.argv[1]
    if kind == "gen":
        until = sys.argv[sys.argv.index("--until") + 1] if "--until" in sys.argv else "23:59:59"
        gen(sys.argv[2], int(sys.argv[3]), sys.argv[4], until)
    elif kind == "pace":
        pace(sys.argv[2], float(sys.argv[3]), float(sys.argv[4]))
    elif kind == "latency":
        latency(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
    else:
        sys.exit(__doc__)
