#!/usr/bin/env bash
# Archive size of the benchmark folder with the block codec's
# incompressibility check against packing every block, at quick and maximal
# compression.  Fails when the check costs more than 0.1 % of the size.
#
# usage: bench/shortcut_size.sh [WORKDIR]     (default bench/data, git-ignored)
#   BENCH_BYTES=n   size of the generated folder (default 1 GiB)
#   SHORTCUT_SIZE=path   the measuring program (default: the ci build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
work=${1:-$root/bench/data}
bytes=${BENCH_BYTES:-1073741824}
tool=${SHORTCUT_SIZE:-$root/build/ci/bench/shortcut_size}
if [ ! -x "$tool" ]; then
  (cd "$root" && cmake --preset ci >/dev/null && cmake --build --preset ci --target shortcut_size) >&2
fi
src=$work/source
stamp=$work/source.stamp
if [ "$(cat "$stamp" 2>/dev/null)" != "$bytes $(sha1sum <"$root/bench/make_bench_data.py")" ]; then
  rm -rf "$src" "$stamp"
  echo "generating $bytes bytes in $src ..."
  python3 "$root/bench/make_bench_data.py" "$src" "$bytes"
  echo "$bytes $(sha1sum <"$root/bench/make_bench_data.py")" >"$stamp"
fi
rc=0
for level in 1 9; do
  "$tool" "$src" "$level" 0.1 || rc=1
done
exit $rc
