#!/usr/bin/env python3
"""Times two commands in alternation and prints their medians and ratio.

    bench/alternate.py RUNS OURS THEIRS

Each round runs both commands once, in turn, the first of the pair
changing from round to round, so that a slow spell of the machine (other
work, the CPU clock, the page cache) falls on both alike. One warm-up run
of each comes first. Prints one line: the median wall time of OURS, that of
THEIRS, the median of the rounds' ratios OURS/THEIRS, and the middle half
of those ratios (their 25th and 75th percentiles), which tells whether a
ratio near 1 can be read at all on this machine.
"""
import shlex
import statistics
import subprocess
import sys
import time


def timed(command):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    return time.perf_counter() - start


def quartiles(values):
    values = sorted(values)
    if len(values) < 4:
        return values[0], values[-1]
    q = statistics.quantiles(values, n=4)
    return q[0], q[2]


def main():
    runs = int(sys.argv[1])
    ours, theirs = shlex.split(sys.argv[2]), shlex.split(sys.argv[3])
    timed(ours)
    timed(theirs)
    a, b, ratios = [], [], []
    for r in range(runs):
        if r % 2 == 0:
            x = timed(ours)
            y = timed(theirs)
        else:
            y = timed(theirs)
            x = timed(ours)
        a.append(x)
        b.append(y)
        ratios.append(x / y)
    low, high = quartiles(ratios)
    print(statistics.median(a), statistics.median(b), statistics.median(ratios), low, high)


if __name__ == "__main__":
    main()
