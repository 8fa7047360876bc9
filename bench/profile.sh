#!/usr/bin/env bash
# Where the time of a quick backup and of a restore goes: a perf profile of
# each (samples of user and kernel code), summed into packing (deflate and
# inflate), checksum, cipher, kernel (system calls and what they do), copies
# (memcpy and friends), the archive-bit store and the rest; then the system
# calls of each run counted by strace -c, per file of the source.
#
# usage: bench/profile.sh [WORKDIR]        (default bench/data, git-ignored)
#   VAULTIX_CLI=path      the vaultix-cli to profile (default: release build)
#   PROFILE_CORPUS=name   mixed, tiny or random, as peers_bench.sh makes them
#                         (generated there; default mixed)
#   PROFILE_OUT=folder    where the archive and the restored copy go
#                         (default /dev/shm/vaultix-profile)
#   PROFILE_ENCRYPT=1     the backup is encrypted (a password file is made)
set -euo pipefail
. "$(dirname "$0")/set_file.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(cd "${1:-$root/bench/data}" && pwd)
cli=${VAULTIX_CLI:-$root/build/release/src/cli/vaultix-cli}
corpus=${PROFILE_CORPUS:-mixed}
src=$work/source-$corpus
out=${PROFILE_OUT:-/dev/shm/vaultix-profile}
[ -d "$src" ] || { echo "no $src: run bench/peers_bench.sh first (BENCH_CORPORA=$corpus)" >&2; exit 1; }
command -v perf >/dev/null || { echo "needs perf (Debian package linux-perf)" >&2; exit 1; }
command -v strace >/dev/null || { echo "needs strace" >&2; exit 1; }
files=$(find "$src/" -type f | wc -l)

rm -rf "$out"
mkdir -p "$out"
export VAULTIX_STATE_DIR=$out/state
tar -cf - -C "$(dirname "$src")" "$(basename "$src")" | cat >/dev/null
write_quick_set "$out/profile.set" "$src" "$out" a.arc
password=()
if [ "${PROFILE_ENCRYPT:-0}" = 1 ]; then
  echo profile-password >"$out/password"
  chmod 600 "$out/password"
  password=(--password-file "$out/password")
fi
backup=("$cli" backup --quiet --no-log --mode full --set "$out/profile.set" "${password[@]}")
restore=("$cli" restore --quiet --no-log --all --restore-to "$out/restored" --set "$out/profile.set"
  "${password[@]}")

# summarise PERF-DATA: shares of the categories, then the heaviest symbols.
summarise() {
  perf report -i "$1" --no-children --sort dso,sym --stdio 2>/dev/null | python3 -c '
import re, sys
shares, top = {}, []
def kind(dso, sym):
    s = sym.lower()
    if "kernel" in dso:
        return "copies (kernel, in read and write)" if "copy" in s else "kernel (system calls, file system)"
    if "crc" in s or "adler" in s: return "checksum"
    if re.search(r"incompressible|singlebytegain|hasrepeats", s): return "packing: incompressibility check"
    if "deflate" in s or "inflate" in s or "libz" in dso or "libdeflate" in dso: return "packing"
    if "blowfish" in s or "cipher" in s: return "cipher"
    if re.search(r"mem(cpy|move|set)", s): return "copies (user space)"
    if "sqlite" in dso: return "archive-bit store"
    return "other"
for line in sys.stdin:
    m = re.match(r"\s*([\d.]+)%\s+(\S+)\s+\[.\]\s+(.*)", line)
    if not m: continue
    pct, dso, sym = float(m.group(1)), m.group(2), m.group(3).strip()
    k = kind(dso, sym)
    shares[k] = shares.get(k, 0.0) + pct
    top.append((pct, dso, sym, k))
print("(libdeflate comes without symbols: samples in its CRC-32, the checksum, count as packing;"
      " only those in its exported entry point count as checksum)\n")
print("| share | % |\n|---|---|")
for k, v in sorted(shares.items(), key=lambda kv: -kv[1]):
    print("| %s | %.1f |" % (k, v))
print("\n| % | object | symbol | counted as |\n|---|---|---|---|")
for pct, dso, sym, k in sorted(top, reverse=True)[:12]:
    print("| %.1f | %s | %s | %s |" % (pct, dso, sym[:60], k))
'
}

# syscalls LABEL command...: system calls of one run, the heaviest ten.
syscalls() {
  local label=$1
  shift
  strace -f -c -o "$out/strace.$label" "$@" >/dev/null
  awk -v files="$files" '
    $NF == "total" { printf "%d system calls, %.1f per file\n\n| call | count | per file | s |\n|---|---|---|---|\n", $4, $4 / files }
  ' "$out/strace.$label"
  awk -v files="$files" '$1 ~ /^[0-9.]+$/ && NF >= 5 && $NF != "total" { print $4, $NF, $2 }' "$out/strace.$label" |
    sort -rn | head -10 | awk -v files="$files" '{ printf "| %s | %d | %.2f | %s |\n", $2, $1, $1 / files, $3 }'
}

echo "## $corpus: $files files, $(du -sbL "$src" | cut -f1) bytes; $(date -u '+%Y-%m-%d %H:%M UTC'), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo
echo "### quick backup$([ -z "${password[*]}" ] || echo ", encrypted")"
echo
perf record -F 2000 -g -o "$out/backup.perf" -- "${backup[@]}" 2>"$out/perf.err"
summarise "$out/backup.perf"
echo
rm -rf "$out/restored"
echo "### restore"
echo
perf record -F 2000 -g -o "$out/restore.perf" -- "${restore[@]}" 2>"$out/perf.err"
summarise "$out/restore.perf"
rm -rf "$out/restored"
echo
echo "### system calls of the quick backup"
echo
rm -f "$out/a.arc"
syscalls backup "${backup[@]}"
echo
echo "### system calls of the restore"
echo
syscalls restore "${restore[@]}"
rm -rf "$out"
