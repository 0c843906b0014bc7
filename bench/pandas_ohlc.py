#!/usr/bin/env python3
"""The pandas peer of intervals_bench: 60-second OHLC bars of one symbol's
ticks, read from the same day tables the server reads.

    pandas_ohlc.py DATA_DIR SYMBOL BEGIN END REPS TABLE...

Prints "pandas <resample s> <read+resample s> <bars>", each time the median of
REPS runs: the resample alone over ticks already in memory, and reading the
ticks from the day tables followed by the resample.
"""
import sqlite3
import statistics
import sys
import time

import pandas as pd


def seconds_of(text):
    h, m, s = (int(x) for x in text.split(":"))
    return h * 3600 + m * 60 + s


def read_ticks(data_dir, symbol, begin, end, tables):
    frames = []
    for table in tables:
        con = sqlite3.connect(f"file:{data_dir}/histdata/{table}.db?mode=ro", uri=True)
        try:
            frames.append(pd.read_sql_query(
                f"SELECT Date, Time, Price, Volume FROM {table} "
                "WHERE Symbol = ? COLLATE NOCASE AND Time >= ? AND Time <= ?",
                con, params=(symbol, begin / 86400.0, end / 86400.0)))
        finally:
            con.close()
    ticks = pd.concat(frames, ignore_index=True)
    stamp_ms = ((ticks["Date"] + ticks["Time"]) * 86400000.0).round()
    ticks.index = pd.to_datetime(stamp_ms, unit="ms", origin=pd.Timestamp("1899-12-30"))
    return ticks


def bars_of(ticks):
    ohlc = ticks["Price"].resample("60s").ohlc()
    ohlc["volume"] = ticks["Volume"].resample("60s").last().diff()
    return ohlc.dropna(subset=["open"])


def median_time(reps, run):
    times = []
    result = None
    for _ in range(reps):
        started = time.perf_counter()
        result = run()
        times.append(time.perf_counter() - started)
    return statistics.median(times), result


def main():
    data_dir, symbol, begin, end, reps = sys.argv[1:6]
    tables = sys.argv[6:]
    begin, end, reps = seconds_of(begin), seconds_of(end), max(1, int(reps))
    ticks = read_ticks(data_dir, symbol, begin, end, tables)
    bars_of(ticks)  # warm-up
    resample, bars = median_time(reps, lambda: bars_of(ticks))
    total, _ = median_time(reps, lambda: bars_of(read_ticks(data_dir, symbol, begin, end, tables)))
    print(f"pandas {resample:.6f} {total:.6f} {len(bars)}")


if __name__ == "__main__":
    main()
