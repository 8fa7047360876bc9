#!/usr/bin/env bash
# Runs clang-tidy with the checks of .clang-tidy over the C++ sources of src/,
# using the compile commands of the ci build (configured and built first when
# missing: the desktop program's generated headers must exist).  Exits
# non-zero when a check reports anything.
# usage: scripts/tidy.sh [FILE...]   (default: every tracked src/**/*.cpp)
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/ci

# ---- Not yet checked -------------------------------------------------------
# Sources that are still being brought up to the checks; an entry ending in
# "/" stands for a whole folder.  Empty this list once they pass.
pending=()
# ---------------------------------------------------------------------------

if [ ! -f "$build/compile_commands.json" ]; then
  cmake --preset ci >/dev/null
  cmake --build --preset ci -j "$(nproc)"
fi

is_pending() {
  local f=$1 p
  for p in "${pending[@]}"; do
    case $p in
      */) [[ $f == "$p"* ]] && return 0 ;;
      *) [[ $f == "$p" ]] && return 0 ;;
    esac
  done
  return 1
}

files=()
if (($#)); then
  candidates=("$@")
else
  mapfile -t candidates < <(git ls-files 'src/*.cpp')
fi
for f in "${candidates[@]}"; do
  is_pending "$f" || files+=("$PWD/$f")
done
((${#files[@]})) || { echo "tidy: nothing to check"; exit 0; }

start=$SECONDS
run-clang-tidy -quiet -j "$(nproc)" -p "$build" "${files[@]}" >"$build/tidy.log" 2>&1 || {
  grep -E '(warning|error): ' "$build/tidy.log" | sed 's/\x1b\[[0-9;]*m//g' | sort -u >&2
  echo "tidy: findings in ${#files[@]} files (full output in $build/tidy.log)" >&2
  exit 1
}
echo "tidy: ${#files[@]} files clean in $((SECONDS - start)) s"
