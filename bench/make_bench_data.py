#!/usr/bin/env python3
"""Writes the benchmark folder: exactly 1 GiB in text files, binary files and
many small files, the same bytes, names and times on every run (fixed generator start).

usage: make_bench_data.py FOLDER [TOTAL_BYTES]
"""
import os
import random
import sys

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


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    root = sys.argv[1]
    total = int(sys.argv[2]) if len(sys.argv) > 2 else 1 << 30
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
