#!/usr/bin/env bash
# "cmake --install" into a scratch prefix: the program runs from there, and
# the man pages, the completion, the icon and the job-file type are where the
# desktop and man look for them, in a form their tools accept.
# usage: install_tree_test.sh SOURCE-DIR BUILD-DIR
source "$(dirname "$0")/common.sh"
src=$1 build=$2
prefix=$scratch/prefix
cmake --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 ||
  { cat "$scratch/install.log" >&2; fail "cmake --install failed"; finish; }

for file in bin/vaultix-cli share/man/man1/vaultix-cli.1.gz \
  share/bash-completion/completions/vaultix-cli; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done
want=$("$build/src/cli/vaultix-cli" --version)
got=$("$prefix/bin/vaultix-cli" --version) || fail "the installed vaultix-cli --version failed"
[ -n "$want" ] && [ "$got" = "$want" ] || fail "installed --version says '$got', the build '$want'"

# man finds the page by name below the prefix.
if command -v man >/dev/null; then
  MANPATH="$prefix/share/man" man -w vaultix-cli >/dev/null 2>&1 ||
    fail "man does not find vaultix-cli below $prefix/share/man"
fi

# The desktop program's files come only with the desktop program.
if [ ! -x "$build/src/app/vaultix" ]; then
  ((failures == 0)) || finish
  skip "the desktop program is not built: its files are not checked"
fi
for file in bin/vaultix share/man/man1/vaultix.1.gz share/applications/vaultix.desktop \
  share/icons/hicolor/scalable/apps/vaultix.svg share/mime/packages/vaultix.xml \
  share/metainfo/org.vaultix.Vaultix.metainfo.xml; do
  [ -f "$prefix/$file" ] || fail "not installed: $file"
done


# The job-file type: the MIME database built from the package file maps
# *.sqt to it.
if command -v update-mime-database >/dev/null; then
  update-mime-database "$prefix/share/mime" >"$scratch/mime.log" 2>&1 ||
    fail "update-mime-database: $(cat "$scratch/mime.log")"
  grep -q 'application/x-vaultix-job:\*\.sqt' "$prefix/share/mime/globs2" 2>/dev/null ||
    fail "the MIME database does not map *.sqt to application/x-vaultix-job"
else
  echo "note: update-mime-database missing, the MIME file is not checked"
fi

# The menu entry, valid and tied to that type.
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$src/data/vaultix.desktop" 2>&1) || fail "vaultix.desktop: $out"
  [ -z "$out" ] || fail "vaultix.desktop: $out"
else
  echo "note: desktop-file-validate missing, the menu entry is not checked"
fi
grep -qx 'MimeType=application/x-vaultix-job;' "$src/data/vaultix.desktop" ||
  fail "vaultix.desktop does not open application/x-vaultix-job"

# The icon is well-formed SVG.
python3 - "$prefix/share/icons/hicolor/scalable/apps/vaultix.svg" <<'PY' || fail "vaultix.svg is not SVG"
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
sys.exit(0 if root.tag == "{http://www.w3.org/2000/svg}svg" else 1)
PY
finish
