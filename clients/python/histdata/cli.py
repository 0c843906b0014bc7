"""histdata-get: one request's rows as CSV (streamed, any size) or as a
table.

    histdata-get [--url URL] [--table] METHOD SYMBOL [--start S --end E]
                 [--interval SECONDS] [--days N] [--back N]

METHOD is ticks, changes, latest, bars, minute_bars, grid or daily. Start
and end are ISO dates (2026-12-07), datetimes (2026-12-07T10:00) or times
(10:00). The URL defaults to $HISTDATA_URL, else http://127.0.0.1:8080/.
"""

import argparse
import csv
import os
import sys
from datetime import date, datetime, time

from .client import Client
from .errors import HistDataError

_METHODS = ("ticks", "changes", "latest", "bars", "minute_bars", "grid", "daily")
_NEED_INTERVAL = ("bars", "minute_bars", "grid")


def moment(text):
    """A date, datetime or time from its ISO text."""
    for parse in (date.fromisoformat, datetime.fromisoformat, time.fromisoformat):
        try:
            return parse(text)
        except ValueError:
            pass
    raise argparse.ArgumentTypeError(f"not an ISO date, datetime or time: {text!r}")


def parser():
    p = argparse.ArgumentParser(prog="histdata-get", description=__doc__.split("\n\n")[0])
    p.add_argument("method", choices=_METHODS)
    p.add_argument("symbol")
    p.add_argument("--url", default=os.environ.get("HISTDATA_URL", "http://127.0.0.1:8080/"))
    p.add_argument("--timeout", type=float, default=30.0)
    p.add_argument("--start", type=moment)
    p.add_argument("--end", type=moment)
    p.add_argument("--interval", type=int, help="bar length in seconds (bars, minute_bars, grid)")
    p.add_argument("--days", type=int, default=0, help="trading days back (changes, bars, grid)")
    p.add_argument("--back", type=int, default=0, help="bars from before start (minute_bars)")
    p.add_argument("--table", action="store_true", help="print a table instead of CSV")
    return p


def call(client, args, stream):
    m = args.method
    if m == "latest":
        return client.latest(args.symbol)
    if m == "daily":
        if args.start is None or args.end is None:
            raise SystemExit("histdata-get: daily needs --start and --end")
        return client.daily(args.symbol, args.start, args.end, stream=stream)
    window = (args.symbol,)
    if m in _NEED_INTERVAL:
        if args.interval is None:
            raise SystemExit(f"histdata-get: {m} needs --interval")
        window += (args.interval,)
    window += (args.start, args.end)
    extra = {"back": args.back} if m == "minute_bars" else {"days": args.days} if m != "ticks" else {}
    return getattr(client, m)(*window, stream=stream, **extra)


def _cell(v):
    if v is None or v != v:  # None or NaN
        return ""
    if isinstance(v, datetime):
        return v.isoformat(sep=" ")
    return v


def main(argv=None):
    args = parser().parse_args(argv)
    client = Client(args.url, timeout=args.timeout)
    try:
        if args.table:
            df = call(client, args, stream=False)
            names = " / ".join(n for n in (df.attrs.get("ename"), df.attrs.get("cname")) if n)
            print(f"{args.symbol}  {names}".rstrip())
            print(df.to_string())
            return 0
        out = csv.writer(sys.stdout, lineterminator="\n")
        rows = call(client, args, stream=True)
        if args.method == "latest":
            out.writerow([rows.index.name] + list(rows.columns))
            rows = [(t.to_pydatetime(), *r) for t, r in zip(rows.index, rows.itertuples(index=False))]
        else:
            out.writerow(rows.columns)
        for r in rows:
            out.writerow([_cell(v) for v in r])
        return 0
    except HistDataError as e:
        print(f"histdata-get: {type(e).__name__}: {e}", file=sys.stderr)
        return 1
    except BrokenPipeError:
        return 0


if __name__ == "__main__":
    sys.exit(main())
