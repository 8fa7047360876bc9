#!/usr/bin/env bash
# CPack builds two Debian packages from one build: vaultix-cli (the command
# line; installing it pulls nothing of Qt) and vaultix (the desktop
# program; Depends on vaultix-cli of the same version).  Each is unpacked
# with dpkg-deb -x: its files are the ones it should hold and no other, its
# program runs, its Depends names the package of every shared library the
# program links, and lintian (when installed) finds neither error nor
# warning.
# usage: deb_package_test.sh BUILD-DIR
source "$(dirname "$0")/common.sh"
build=$1
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (package dpkg-dev)"
done
cpack --config "$build/CPackConfig.cmake" -B "$scratch/out" >"$scratch/cpack.log" 2>&1 ||
  { cat "$scratch/cpack.log" >&2; fail "cpack failed"; finish; }
desktop=0
[ -x "$build/src/app/vaultix" ] && desktop=1

want=$("$build/src/cli/vaultix-cli" --version)
# The program says four numbers (7.0.0.0), the packages three (7.0.0-1).
version=$(sed -E 's/^vaultix-cli ([0-9]+\.[0-9]+\.[0-9]+).*/\1/' <<<"$want")

# package | its files (every one, sorted) ...
cli_files="usr/bin/vaultix-cli
usr/share/bash-completion/completions/vaultix-cli
usr/share/doc/vaultix-cli/changelog.Debian.gz
usr/share/doc/vaultix-cli/copyright
usr/share/lintian/overrides/vaultix-cli
usr/share/man/man1/vaultix-cli.1.gz"
desktop_files="usr/bin/vaultix
usr/share/applications/vaultix.desktop
usr/share/doc/vaultix/changelog.Debian.gz
usr/share/doc/vaultix/copyright
usr/share/icons/hicolor/scalable/apps/vaultix.svg
usr/share/lintian/overrides/vaultix
usr/share/man/man1/vaultix.1.gz
usr/share/metainfo/org.vaultix.Vaultix.metainfo.xml
usr/share/mime/packages/vaultix.xml"
packages=(vaultix-cli)
((desktop)) && packages+=(vaultix)
count=$(find "$scratch/out" -maxdepth 1 -name '*.deb' | wc -l)
[ "$count" -eq ${#packages[@]} ] || fail "cpack made $count packages, not ${#packages[@]}"

# The package of a library file, by any of its names.
owner() {
  local path=$1 real candidates c
  real=$(readlink -f "$path")
  candidates=("$path" "$real" "${path#/usr}" "${real#/usr}" "/usr${path}" "/usr${real}")
  for c in "${candidates[@]}"; do
    dpkg -S "$c" 2>/dev/null | head -n1 | cut -d: -f1 && return
  done
}
# Every NEEDED library of an ELF file has its package in Depends.
check_needed() {  # check_needed DEB ELF
  local depends names lib path pkg
  depends=$(dpkg-deb -f "$1" Depends)
  names=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/^ *//; s/[ (:].*//')
  while read -r lib; do
    path=$(ldconfig -p | awk -v l="$lib" '$1 == l {print $NF; exit}')
    [ -n "$path" ] || { fail "cannot find $lib"; continue; }
    pkg=$(owner "$path")
    [ -n "$pkg" ] || { echo "note: no package owns $lib"; continue; }
    grep -qxF -- "$pkg" <<<"$names" || fail "$(basename "$1"): Depends lacks $pkg (for $lib)"
  done < <(readelf -d "$2" | sed -nE 's/.*\(NEEDED\).*\[(.*)\]/\1/p')
}

for package in "${packages[@]}"; do
  debs=("$scratch/out/${package}_"*.deb)
  deb=${debs[0]}
  [ -f "$deb" ] || { fail "no package $package"; continue; }
  root=$scratch/root-$package
  dpkg-deb -x "$deb" "$root" || fail "dpkg-deb -x $package failed"
  [ "$(dpkg-deb -f "$deb" Package)" = "$package" ] || fail "$deb is not named $package"
  case $(dpkg-deb -f "$deb" Version) in "$version"-*) ;; *) fail "$package: version is not $version-*" ;; esac
  maintainer=$(dpkg-deb -f "$deb" Maintainer)
  [[ $maintainer == *"<"*"@"*">" && $maintainer != *localhost* ]] ||
    fail "$package: Maintainer '$maintainer' is no real address"

  files=$(cd "$root" && find . -type f -o -type l | sed 's|^\./||' | sort)
  expected=$cli_files
  [ "$package" = vaultix ] && expected=$desktop_files
  [ "$files" = "$expected" ] ||
    fail "$package holds: $(echo $files); wanted: $(echo $expected)"

  # Machine-readable copyright, a changelog of this version.
  head -n1 "$root/usr/share/doc/$package/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' ||
    fail "$package: copyright is not in the machine-readable format"
  grep -qx 'License: GPL-3+' "$root/usr/share/doc/$package/copyright" ||
    fail "$package: copyright names no GPL-3+"
  zcat "$root/usr/share/doc/$package/changelog.Debian.gz" | head -n1 |
    grep -qF "vaultix ($(dpkg-deb -f "$deb" Version))" ||
    fail "$package: the changelog's last entry is not this version"
done

cli_deb=$(ls "$scratch"/out/vaultix-cli_*.deb 2>/dev/null)
if [ -n "$cli_deb" ]; then
  got=$("$scratch/root-vaultix-cli/usr/bin/vaultix-cli" --version) ||
    fail "the packaged vaultix-cli --version failed"
  [ -n "$want" ] && [ "$got" = "$want" ] || fail "packaged --version says '$got', the build '$want'"
  check_needed "$cli_deb" "$scratch/root-vaultix-cli/usr/bin/vaultix-cli"
  depends=$(dpkg-deb -f "$cli_deb" Depends)
  echo "vaultix-cli Depends: $depends"
  # Installed with apt-get on a machine that has nothing yet (an empty dpkg
  # status), it pulls neither Qt nor an X, GL or Wayland stack.
  if command -v apt-get >/dev/null; then
    : >"$scratch/empty-status"
    pulled=$(apt-get install --simulate -o Dir::State::status="$scratch/empty-status" \
      "$cli_deb" 2>&1 | sed -n 's/^Inst \([^ ]*\).*/\1/p')
    grep -qx vaultix-cli <<<"$pulled" || fail "apt-get would not install vaultix-cli: $pulled"
    gui=$(grep -E '^(libqt|qt6|libx11|libxcb|libgl1|libglx|libegl|libgbm|mesa|libwayland|libfontconfig)' <<<"$pulled")
    [ -z "$gui" ] || fail "installing vaultix-cli pulls: $(echo $gui)"
  fi
fi

desktop_deb=$(ls "$scratch"/out/vaultix_*.deb 2>/dev/null)
if [ -n "$desktop_deb" ]; then
  check_needed "$desktop_deb" "$scratch/root-vaultix/usr/bin/vaultix"
  cli_version=$(dpkg-deb -f "$cli_deb" Version)
  dpkg-deb -f "$desktop_deb" Depends | tr ',' '\n' | sed 's/^ *//' |
    grep -qxF "vaultix-cli (= $cli_version)" ||
    fail "vaultix does not depend on vaultix-cli (= $cli_version)"
  metainfo=$scratch/root-vaultix/usr/share/metainfo/org.vaultix.Vaultix.metainfo.xml
  if command -v appstreamcli >/dev/null; then
    out=$(appstreamcli validate --no-net "$metainfo" 2>&1) || fail "appstreamcli validate: $out"
  else
    echo "note: appstreamcli missing (package appstream), the metainfo is not validated"
  fi
fi

if command -v lintian >/dev/null; then
  # Errors and warnings (the default level); lintian refuses nothing for root
  # but says so on stderr.
  out=$(lintian "$scratch"/out/*.deb 2>/dev/null)
  findings=$(grep -E '^[EW]: ' <<<"$out")
  [ -z "$findings" ] || fail "lintian: $findings"
else
  echo "note: lintian missing, the packages are not checked by it"
fi
finish
