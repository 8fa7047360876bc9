#!/usr/bin/env python3
"""Summarises peers_bench.sh's raw results as Markdown: first every target
(a ratio of median wall times, and the peak memory) per corpus and output
place with whether it is met, then per corpus, output place and step the
median, minimum and maximum wall and CPU time and the median peak memory of
every program, and the ratio of every peer's median wall time to every
vaultix-cli case's (above 1: vaultix-cli is faster).

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


# The targets: (what, corpus, step, slower case, faster case, limit, sense).
# The measure is the slower case's median wall time over the faster case's;
# ">=" is met when it reaches the limit, "<=" when it stays within it.
TARGETS = [
    ("quick backup ≥ 2.4× `tar\\|gzip -1`", "mixed", "backup", "tar-gzip1", "vx-quick", 2.4, ">="),
    ("quick backup ≥ 1.1× `tar -I 'pigz -1'`", "mixed", "backup", "tar-pigz1", "vx-quick", 1.1, ">="),
    ("encrypted quick ≥ 0.8× the speed of plain quick", "mixed", "backup", "vx-quick", "vx-quick-enc",
     0.8, ">="),
    ("maximal ≥ 3× `tar\\|gzip -9`", "mixed", "backup", "tar-gzip9", "vx-max", 3.0, ">="),
    ("restore ≥ 2.4× `tar -xzf`", "mixed", "restore", "tar-xzf", "vx-restore", 2.4, ">="),
    ("restore ≥ 1.4× `tar -I pigz -x`", "mixed", "restore", "tar-pigz-x", "vx-restore", 1.4, ">="),
    ("verify ≥ 3× `tar --compare`", "mixed", "verify", "tar-compare", "vx-verify", 3.0, ">="),
    ("tiny files: backup ≥ 1.5× `tar\\|gzip -1`", "tiny", "backup", "tar-gzip1", "vx-quick", 1.5, ">="),
    ("tiny files: restore ≥ 1.2× `tar -xzf`", "tiny", "restore", "tar-xzf", "vx-restore", 1.2, ">="),
    ("incremental after a change ≤ 2× the time of `tar --listed-incremental`", "mixed", "incremental",
     "vx-incr", "tar-incr", 2.0, "<="),
]
PEAK_LIMIT_MIB = 64.0


def targets(groups):
    """The table of targets, for every output place present."""
    places = list(OrderedDict.fromkeys(place for (_, place, _) in groups))
    out = ["## Targets (ratios of median wall times; CPU in brackets)\n",
           "| target | corpus | outputs on | measured | met? |", "|---|---|---|---|---|"]

    def median(corpus, place, step, name, field):
        runs = [r for r in groups.get((corpus, place, step), {}).get(name, []) if r[3]]
        return statistics.median(r[field] for r in runs) if runs else None

    for what, corpus, step, slow, fast, limit, sense in TARGETS:
        for place in places:
            a, b = median(corpus, place, step, slow, 0), median(corpus, place, step, fast, 0)
            if a is None or b is None or b <= 0:
                out.append("| %s | %s | %s | not measured | – |" % (what, corpus, place))
                continue
            ratio = a / b
            ca, cb = median(corpus, place, step, slow, 1), median(corpus, place, step, fast, 1)
            cpu = " (CPU %.2f)" % (ca / cb) if ca and cb else ""
            met = ratio >= limit if sense == ">=" else ratio <= limit
            out.append("| %s | %s | %s | %.2f%s | %s |" % (
                what, corpus, place, ratio, cpu, "yes" if met else "**no**"))
    peaks = [(statistics.median(r[2] for r in runs if r[3]), corpus, place, step, name)
             for (corpus, place, step), cases in groups.items()
             for name, runs in cases.items() if name.startswith("vx-") and any(r[3] for r in runs)]
    if peaks:
        peak, corpus, place, step, name = max(peaks)
        out.append("| peak memory < %.0f MiB (largest median of any vaultix-cli run) | %s | %s | "
                   "%.1f MiB (%s %s) | %s |" % (PEAK_LIMIT_MIB, corpus, place, peak, step, name,
                                                 "yes" if peak < PEAK_LIMIT_MIB else "**no**"))
    return "\n".join(out) + "\n"


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
    print(targets(groups))
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
