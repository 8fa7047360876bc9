#!/usr/bin/env bash
# Renders every page of the desktop program's wizard, the selection dialog in
# each mode, the status window, the log viewer, the about box and the help
# window offscreen into PNG files in OUTDIR, in Slovak (sk_SK.UTF-8), with a
# real backup's set in the restore tree and its log in the log viewer.
#   scripts/screenshots.sh OUTDIR
# Builds the release preset first when the program is missing or older than
# its sources.
set -euo pipefail
if (($# != 1)); then
  echo "usage: $0 OUTDIR" >&2
  exit 2
fi
out=$1
root=$(cd "$(dirname "$0")/.." && pwd)
program=$root/build/release/src/app/vaultix
if [ ! -x "$program" ] || [ -n "$(find "$root/src" -newer "$program" -print -quit)" ]; then
  (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release -j 2) >&2
fi
mkdir -p "$out"
# The pictures show the program as a Slovak user sees it.
if ! locale -a 2>/dev/null | grep -qix 'sk_SK.utf-\?8'; then
  echo "$0: the locale sk_SK.UTF-8 is missing; run scripts/install-deps.sh (or locale-gen)" >&2
  exit 1
fi
# A private home, so that the pictures show no one's files and nothing of the
# user's settings is touched.
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$home/home/Dokumenty" "$home/home/Obrázky"
HOME=$home/home XDG_CONFIG_HOME=$home/config XDG_DATA_HOME=$home/data \
  XDG_STATE_HOME=$home/state VAULTIX_STATE_DIR=$home/vxstate \
  QT_QPA_PLATFORM=offscreen LC_ALL=sk_SK.UTF-8 \
  "$program" --screenshots "$(cd "$out" && pwd)"
ls "$out"/*.png
