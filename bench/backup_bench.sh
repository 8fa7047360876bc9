#!/usr/bin/env bash
# Speed and memory of backup (quick compression), restore and verify on a
# reproducible 1 GiB folder, beside tar + gzip -1 on the same folder, in one
# run with the page cache warm.  Prints, per step, MB/s (10^6 bytes of source
# data per second) by wall time and by CPU time (user + system; on a shared
# machine the wall time also holds the waits for other work), and the peak
# resident memory.
#
# ext4 makes creating files slow for some minutes after many files were
# deleted (each new inode is checked against recently deleted ones), and every
# run deletes its restored copies at the end: leave five minutes between runs,
# or the restore and tar -xzf lines measure mostly that.
#
# usage: bench/backup_bench.sh [WORKDIR]     (default bench/data, git-ignored)
#   VAULTIX_CLI=path   the vaultix-cli to measure (default: release build,
#                      built first when missing)
#   BENCH_BYTES=n      size of the generated folder (default 1 GiB)
set -euo pipefail
. "$(dirname "$0")/set_file.sh"
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/bench/data}
bytes=${BENCH_BYTES:-1073741824}
cli=${VAULTIX_CLI:-$root/build/release/src/cli/vaultix-cli}

if [ ! -x "$cli" ]; then
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j "$(nproc)") >&2
fi
[ -x /usr/bin/time ] || { echo "needs GNU time (/usr/bin/time, Debian package time)" >&2; exit 1; }

src=$work/source
out=$work/out
stamp=$work/source.stamp
if [ "$(cat "$stamp" 2>/dev/null)" != "$bytes $(sha1sum <"$root/bench/make_bench_data.py")" ]; then
  rm -rf "$src" "$stamp"
  echo "generating $bytes bytes in $src ..."
  python3 "$root/bench/make_bench_data.py" "$src" "$bytes"
  echo "$bytes $(sha1sum <"$root/bench/make_bench_data.py")" >"$stamp"
fi
rm -rf "$out"
mkdir -p "$out"
data=$(find "$src" -type f -printf '%s\n' | awk '{ s += $1 } END { print s }')
files=$(find "$src" -type f | wc -l)

write_quick_set "$out/bench.set" "$src" "$out/archive" bench.arc
export VAULTIX_STATE_DIR=$out/state

# Warm the page cache with the source folder.  (tar writing straight to
# /dev/null would not read the files' contents at all.)
tar -cf - -C "$work" source | cat >/dev/null

results=()
measure() {  # name command...
  local name=$1
  shift
  local report=$out/time.$name
  local rc=0
  /usr/bin/time -v -o "$report" "$@" >"$out/$name.stdout" 2>"$out/$name.stderr" || rc=$?
  local wall rss secs user sys
  wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$report")
  rss=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$report")
  user=$(sed -n 's/.*User time (seconds): //p' "$report")
  sys=$(sed -n 's/.*System time (seconds): //p' "$report")
  secs=$(awk -F: '{ s = 0; for (i = 1; i <= NF; i++) s = s * 60 + $i; print s }' <<<"$wall")
  results+=("$(awk -v n="$name" -v d="$data" -v s="$secs" -v r="$rss" -v rc="$rc" -v c="$(awk -v u="$user" -v y="$sys" 'BEGIN { print u + y }')" \
    'BEGIN { printf "%-18s %7.2f s wall %7.1f MB/s | %7.2f s cpu %7.1f MB/s | %6.1f MiB peak%s", n, s, (s > 0 ? d / s / 1e6 : 0), c, (c > 0 ? d / c / 1e6 : 0), r / 1024, (rc ? "  FAILED (exit " rc ")" : "") }')")
  echo "${results[-1]}"
}

echo "source: $data bytes in $files files"
measure vaultix-backup "$cli" backup --quiet --no-log --set "$out/bench.set"
measure vaultix-verify "$cli" verify --quiet --no-log --set "$out/bench.set"
measure vaultix-restore "$cli" restore --quiet --no-log --set "$out/bench.set" --all \
  --restore-to "$out/restored"
measure tar-gzip-1 bash -c "tar -cf - -C '$work' source | gzip -1 >'$out/source.tgz'"
mkdir -p "$out/untar"
measure tar-xzf tar -xzf "$out/source.tgz" -C "$out/untar"

archive=$(du -cb "$out"/archive/bench.arc* | tail -1 | cut -f1)
tgz=$(stat -c %s "$out/source.tgz")
echo
echo "=== $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "source $data bytes, $files files; archive $archive bytes; tgz $tgz bytes"
printf '%s\n' "${results[@]}"
if diff -rq "$src" "$out/restored$src" >/dev/null; then
  echo "restored copy identical to the source"
else
  echo "restored copy DIFFERS from the source" >&2
  exit 1
fi
rm -rf "$out/restored" "$out/untar"
