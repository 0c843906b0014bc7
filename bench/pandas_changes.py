#!/usr/bin/env python3
"""The pandas peer of mode 3 in bench/run: one symbol's ticks whose price
differs from the tick before, over several day tables, read from the same
stores the server reads.

    pandas_changes.py DATA_DIR SYMBOL REPS TABLE...

Reads and filters REPS times after one warm-up run; prints
"median=S min=S max=S rows=N" in seconds.
"""
import sqlite3
import statistics
import sys
import time

import pandas as pd


def changes(data_dir, symbol, tables):
    frames = []
    for table in tables:
        con = sqlite3.connect(f"file:{data_dir}/histdata/{table}.db?mode=ro", uri=True)
        try:
            frames.append(pd.read_sql_query(
                f"SELECT Date, Time, Bid, Offer, Price, BidSize, OfferSize, Volume FROM {table} "
                "WHERE Symbol = ? COLLATE NOCASE ORDER BY Symbol COLLATE NOCASE, Time, ID",
                con, params=(symbol,)))
        finally:
            con.close()
    ticks = pd.concat(frames, ignore_index=True)
    price = ticks["Price"]
    return ticks[price.ne(price.shift(fill_value=0.0))]


def main():
    data_dir, symbol, reps = sys.argv[1:4]
    tables = sys.argv[4:]
    rows = len(changes(data_dir, symbol, tables))
    times = []
    for _ in range(max(1, int(reps))):
        started = time.perf_counter()
        changes(data_dir, symbol, tables)
        times.append(time.perf_counter() - started)
    print(f"median={statistics.median(times):.6f} min={min(times):.6f} "
          f"max={max(times):.6f} rows={rows}")


if __name__ == "__main__":
    main()
