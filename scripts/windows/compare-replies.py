#!/usr/bin/env python3
"""Compares two outputs of isapi-testhost byte for byte, reply by reply.

  compare-replies.py LINUX WINDOWS [--any-order]

Replies are compared in order, or as a multiset with --any-order (replies of
concurrent threads). Prints the first difference and exits 1 when they differ.
"""
import sys

END = b"\n-- end of reply\n"


def split(data):
    """The head line, the replies, and what follows the last reply."""
    head, _, rest = data.partition(b"\n")
    parts = rest.split(END)
    return head, parts[:-1], parts[-1]


def main():
    linux_path, windows_path = sys.argv[1:3]
    any_order = "--any-order" in sys.argv[3:]
    linux = split(open(linux_path, "rb").read())
    windows = split(open(windows_path, "rb").read())
    if linux[0] != windows[0] or linux[2] != windows[2]:
        print("head or tail differs: %r %r / %r %r" % (linux[0], linux[2], windows[0], windows[2]))
        return 1
    a, b = linux[1], windows[1]
    if any_order:
        a, b = sorted(a), sorted(b)
    if len(a) != len(b):
        print("%d replies on Linux, %d on Windows" % (len(a), len(b)))
        return 1
    for i, (x, y) in enumerate(zip(a, b)):
        if x != y:
            xl, yl = x.split(b"\n"), y.split(b"\n")
            for n, (p, q) in enumerate(zip(xl, yl)):
                if p != q:
                    print("reply %d, line %d:\n  Linux:   %r\n  Windows: %r" % (i, n, p, q))
                    break
            else:
                print("reply %d: %d lines on Linux, %d on Windows" % (i, len(xl), len(yl)))
            return 1
    print("%d replies identical" % len(a))
    return 0


if __name__ == "__main__":
    sys.exit(main())
