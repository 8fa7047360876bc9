#!/usr/bin/env python3
"""Writes a benchmark folder, the same bytes, names and times on every run
(fixed generator start), or changes one.

usage: make_bench_data.py FOLDER [TOTAL_BYTES]
           mixed: TOTAL_BYTES (default 1 GiB) in text files, binary files and
           many small files
       make_bench_data.py --kind tiny --files N --size BYTES FOLDER
           N text files of BYTES each, 1000 to a folder
       make_bench_data.py --kind random FOLDER TOTAL_BYTES
           random bytes in files of 16 MiB
       make_bench_data.py --change PERCENT --seed S FOLDER
           rewrites a random 4 KiB stretch (the whole file when smaller) of
           PERCENT % of the folder's files, chosen by S, with new bytes of the
           same kind; the changed files get the current time
"""
import argparse
import os
import random
import sys
import time

GENERATOR_START = 20261207
TIME = 1767225600  # fixed modification time of every file (2026-01-01 UTC)

WORDS = (
    "záloha obnova kontrola súbor priečinok disk archív heslo komprimácia dátum "
    "the of and to in is that for it as with was on be by this are from or have "
    "backup restore verify volume block header record checksum attribute time "
    "Bratislava Košice Žilina Nitra Prešov Trnava Martin Poprad Zvolen Trenčín "
    "0 1 2 3 4 5 6 7 8 9 10 42 100 2026 3.14 0x7ABBCCDD; { } ( ) = + - * / \n"
).split(" ")


def text_pool(rng, size):
    """A pool of word text that slices are taken from."""
    parts, n = [], 0
    while n < size:
        w = rng.choice(WORDS)
        parts.append(w)
        n += len(w.encode()) + 1
    return " ".join(parts).encode()[:size]


def text_bytes(rng, pool, size):
    out, n = [], 0
    while n < size:
        start = rng.randrange(0, len(pool) - 4096)
        piece = pool[start:start + rng.randrange(512, 4096)]
        out.append(piece)
        n += len(piece)
    return b"".join(out)[:size]


def binary_bytes(rng, size):
    """Half random, half structured (tables, zero runs), like programs and media."""
    out, n = [], 0
    while n < size:
        kind = rng.random()
        length = rng.randrange(4096, 262144)
        if kind < 0.5:
            chunk = rng.randbytes(length)
        elif kind < 0.8:
            row = rng.randbytes(64)
            chunk = (row * (length // 64 + 1))[:length]
        else:
            chunk = bytes(length)
        out.append(chunk)
        n += len(chunk)
    return b"".join(out)[:size]


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)
    os.utime(path, (TIME, TIME))


def write_tiny(root, files, size):
    rng = random.Random(GENERATOR_START + 1)
    pool = text_pool(rng, 1 << 20)
    for i in range(files):
        write(os.path.join(root, "d%04d" % (i // 1000), "n%06d.txt" % i), text_bytes(rng, pool, size))
    print("tiny   %5d files %11d bytes" % (files, files * size))


def write_random(root, total):
    rng = random.Random(GENERATOR_START + 2)
    written, i = 0, 0
    while written < total:
        size = min(16 << 20, total - written)
        write(os.path.join(root, "r%04d.bin" % i), rng.randbytes(size))
        written += size
        i += 1
    print("random %5d files %11d bytes" % (i, written))


def change(root, percent, seed):
    paths = sorted(os.path.join(d, f) for d, _, names in os.walk(root) for f in names)
    rng = random.Random(seed)
    count = max(1, round(len(paths) * percent / 100.0))
    changed = 0
    for path in rng.sample(paths, min(count, len(paths))):
        with open(path, "r+b") as f:
            data = f.read()
            start = rng.randrange(0, max(1, len(data) - 4096))
            stretch = data[start:start + 4096]
            # Same kind of bytes: text stays text (shuffled), binary gets new bytes.
            if stretch.isascii():
                fresh = bytes(rng.sample(stretch, len(stretch)))
            else:
                fresh = rng.randbytes(len(stretch))
            f.seek(start)
            f.write(fresh)
            changed += len(fresh)
        now = time.time()
        os.utime(path, (now, now))
    print("changed %d of %d files (%d bytes)" % (count, len(paths), changed))


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("folder")
    parser.add_argument("total", nargs="?", type=int, default=1 << 30)
    parser.add_argument("--kind", choices=("mixed", "tiny", "random"), default="mixed")
    parser.add_argument("--files", type=int, default=200000)
    parser.add_argument("--size", type=int, default=2500)
    parser.add_argument("--change", type=float)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_intermixed_args()
    root, total = args.folder, args.total
    if args.change is not None:
        return change(root, args.change, args.seed)
    if args.kind == "tiny":
        return write_tiny(root, args.files, args.size)
    if args.kind == "random":
        return write_random(root, total)
    rng = random.Random(GENERATOR_START)
    pool = text_pool(rng, 8 << 20)

    budgets = [("text", total * 40 // 100), ("binary", total * 30 // 100)]
    budgets.append(("small", total - sum(b for _, b in budgets)))
    for kind, budget in budgets:
        written, i = 0, 0
        while written < budget:
            if kind == "small":
                size = rng.randrange(200, 20000)
                path = os.path.join(root, "small", "d%03d" % (i // 500), "note%05d.txt" % i)
            elif kind == "text":
                size = rng.randrange(256 << 10, 8 << 20)
                path = os.path.join(root, "text", "t%02d" % (i // 20), "doc%04d.txt" % i)
            else:
                size = rng.randrange(1 << 20, 32 << 20)
                path = os.path.join(root, "binary", "b%02d" % (i // 10), "blob%04d.bin" % i)
            size = min(size, budget - written)
            if kind == "binary":
                data = binary_bytes(rng, size)
            elif kind == "text":
                data = text_bytes(rng, pool, size)
            else:
                data = text_bytes(rng, pool, size) if i % 3 else binary_bytes(rng, size)
            write(path, data)
            written += size
            i += 1
        print("%-6s %5d files %11d bytes" % (kind, i, written))


if __name__ == "__main__":
    main()
