#!/usr/bin/env bash
# CPack builds the Debian package; unpacked into a scratch root with
# dpkg-deb -x, its vaultix-cli runs, and its Depends names the package of
# every shared library the program links.
# usage: deb_package_test.sh BUILD-DIR
source "$(dirname "$0")/common.sh"
build=$1
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (package dpkg-dev)"
done
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; finish; }
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { fail "cpack made no single .deb"; finish; }
deb=${debs[0]}

root=$scratch/root
dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x failed"
want=$("$build/src/cli/vaultix-cli" --version)
got=$("$root/usr/bin/vaultix-cli" --version) || fail "the packaged vaultix-cli --version failed"
[ -n "$want" ] && [ "$got" = "$want" ] || fail "packaged --version says '$got', the build '$want'"
for file in usr/share/man/man1/vaultix-cli.1 usr/share/bash-completion/completions/vaultix-cli \
  usr/share/mime/packages/vaultix.xml usr/share/icons/hicolor/scalable/apps/vaultix.svg; do
  [ -f "$root/$file" ] || fail "not in the package: $file"
done

[ "$(dpkg-deb -f "$deb" Package)" = vaultix ] || fail "the package is not named vaultix"
# The program says four numbers (7.0.0.0), the package three (7.0.0-1).
version=$(sed -E 's/^vaultix-cli ([0-9]+\.[0-9]+\.[0-9]+).*/\1/' <<<"$want")
case $(dpkg-deb -f "$deb" Version) in "$version"-*) ;; *) fail "package version is not $version" ;; esac

# The package of each library the program needs (ELF NEEDED), from dpkg.
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
depends_names=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/^ *//; s/[ (:].*//')
owner() {  # the package that holds a library file, by any of its names
  local path=$1 real candidates c
  real=$(readlink -f "$path")
  candidates=("$path" "$real" "${path#/usr}" "${real#/usr}" "/usr${path}" "/usr${real}")
  for c in "${candidates[@]}"; do
    dpkg -S "$c" 2>/dev/null | head -n1 | cut -d: -f1 && return
  done
}
while read -r lib; do
  path=$(ldconfig -p | awk -v l="$lib" '$1 == l {print $NF; exit}')
  [ -n "$path" ] || { fail "cannot find $lib"; continue; }
  pkg=$(owner "$path")
  [ -n "$pkg" ] || { echo "note: no package owns $lib"; continue; }
  grep -qxF -- "$pkg" <<<"$depends_names" || fail "Depends lacks $pkg (for $lib)"
done < <(readelf -d "$root/usr/bin/vaultix-cli" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p')
finish
