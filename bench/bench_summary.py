#!/usr/bin/env python3
"""Summarises peers_bench.sh's raw results as Markdown: per corpus, output
place and step the median, minimum and maximum wall and CPU time and the
median peak memory of every program, then the ratio of every peer's median
wall time to every vaultix-cli case's (above 1: vaultix-cli is faster).

usage: bench_summary.py RESULTS.tsv [MACHINE.md]
"""
import statistics
import sys
from collections import OrderedDict


def load(path):
    groups = OrderedDict()
    failures = {}
    with open(path) as f:
        for line in f:
            corpus, place, step, name, rnd, wall, cpu, rss, rc = line.rstrip("\n").split("\t")
            key = (corpus, place, step)
            if rc != "0":
                failures.setdefault(key + (name,), []).append("round %s: %s" % (rnd, rc))
                if rnd == "check":
                    continue
            groups.setdefault(key, OrderedDict()).setdefault(name, []).append(
                (float(wall), float(cpu), int(rss) / 1024.0, rc == "0"))
    return groups, failures


def spread(values):
    return "%.2f (%.2f–%.2f)" % (statistics.median(values), min(values), max(values))


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    groups, failures = load(sys.argv[1])
    if len(sys.argv) > 2:
        with open(sys.argv[2]) as f:
            print(f.read().rstrip())
        print()
    last = None
    for (corpus, place, step), cases in groups.items():
        if (corpus, place) != last:
            print("### %s, outputs on %s\n" % (corpus, place))
            last = (corpus, place)
        rounds = max(len(runs) for runs in cases.values())
        print("%s (%d round%s): median (min–max)\n" % (step, rounds, "" if rounds == 1 else "s"))
        print("| program | wall s | CPU s | peak MiB | note |")
        print("|---|---|---|---|---|")
        medians, cpus = {}, {}
        for name, runs in cases.items():
            ok = [r for r in runs if r[3]]
            note = "; ".join(failures.get((corpus, place, step, name), []))
            note = ("FAILED " + note) if note else ""
            if not ok:
                print("| %s | – | – | – | %s |" % (name, note))
                continue
            medians[name] = statistics.median(r[0] for r in ok)
            cpus[name] = statistics.median(r[1] for r in ok)
            print("| %s | %s | %s | %.1f | %s |" % (
                name, spread([r[0] for r in ok]), spread([r[1] for r in ok]),
                statistics.median(r[2] for r in ok), note))
        ours = [n for n in medians if n.startswith("vx-")]
        peers = [n for n in medians if not n.startswith("vx-")]
        if ours and (peers or len(ours) > 1):
            others = peers + ours
            for what, values in (("wall", medians), ("CPU", cpus)):
                print("\nratio of median %s times, other / vaultix-cli (above 1: vaultix-cli faster)\n" % what)
                print("| vaultix-cli | " + " | ".join(others) + " |")
                print("|---|" + "---|" * len(others))
                for n in ours:
                    cells = ["–" if p == n or values[n] <= 0 else "%.2f" % (values[p] / values[n]) for p in others]
                    print("| %s | %s |" % (n, " | ".join(cells)))
        print()


if __name__ == "__main__":
    main()
