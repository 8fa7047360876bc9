#!/usr/bin/env bash
# Installs the Debian packages of the groups named (all groups when none is
# named); does nothing when they are all present already.
#   build    compiler, CMake and the libraries vaultix-cli links
#   desktop  Qt 6, for the desktop program
#   package  dpkg-dev, for the Debian packages (dpkg-shlibdeps)
#   test     the test suite's tools and servers (FTP servers, iSCSI target,
#            X server, image tools, clang-tidy, lintian, ...)
# ./run.sh installs build (and desktop, package when asked for them); the
# servers come only with test (./test.sh, .ci/run).  A server the test group
# installs is neither started by the installation (a policy-rc.d answers
# "no" while apt-get runs) nor left enabled (systemctl disable): the tests
# start and stop their own instances.
#   --list   print the packages of the groups, one a line, and install nothing
set -euo pipefail

list=0
groups=()
for arg in "$@"; do
  case $arg in
    --list) list=1 ;;
    build | desktop | package | test) groups+=("$arg") ;;
    *) echo "install-deps.sh: unknown group '$arg' (build, desktop, package, test)" >&2; exit 64 ;;
  esac
done
((${#groups[@]})) || groups=(build desktop package test)

declare -A group_packages=(
  [build]="build-essential cmake ninja-build pkg-config libdeflate-dev libsqlite3-dev libiscsi-dev"
  [desktop]="qt6-base-dev qt6-translations-l10n"
  [package]="dpkg-dev"
  [test]="git zlib1g-dev libgtest-dev libgmock-dev libbenchmark-dev
    clang libclang-rt-14-dev clang-format clang-tidy
    libiscsi-bin tgt python3 python3-pyftpdlib vsftpd curl time
    locales dosfstools fusefat fuse3
    xvfb imagemagick xdotool x11-utils fonts-dejavu-core
    groff-base man-db systemd desktop-file-utils shared-mime-info appstream lintian
    dbus-daemon dbus-bin libglib2.0-bin"
)
# Packages of the test group that bring a system service along.
servers=(vsftpd tgt)

packages=()
for g in "${groups[@]}"; do
  read -r -d '' -a more <<<"${group_packages[$g]}" || true
  packages+=("${more[@]}")
done
if ((list)); then
  printf '%s\n' "${packages[@]}" | sort -u
  exit 0
fi

# The desktop program's tests run under the Slovak locale as well as C, and the
# screenshots are taken in it; English is the other language offered.
generate_locales() {
  [[ " ${groups[*]} " == *" test "* ]] || return 0
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  wanted_locales=(sk_SK.UTF-8 en_US.UTF-8)
  have_locales=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
  to_generate=()
  for l in "${wanted_locales[@]}"; do
    short=$(printf '%s' "$l" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
    grep -qx "$short" <<<"$have_locales" || to_generate+=("$l")
  done
  if ((${#to_generate[@]})); then
    echo "generating locales: ${to_generate[*]}"
    for l in "${to_generate[@]}"; do
      # Uncomment the line when it is there, add it when it is not.
      if grep -Eq "^#? *${l//./\\.} UTF-8" /etc/locale.gen; then
        "${sudo[@]}" sed -i -E "s/^# *(${l//./\\.} UTF-8)/\\1/" /etc/locale.gen
      else
        echo "$l UTF-8" | "${sudo[@]}" tee -a /etc/locale.gen >/dev/null
      fi
    done
    "${sudo[@]}" locale-gen >/dev/null
  fi
}

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]} == 0)); then
  generate_locales
  exit 0
fi

echo "installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
policy=${VAULTIX_POLICY_RC_D:-/usr/sbin/policy-rc.d}
own_policy=0
if [ ! -e "$policy" ]; then
  # 101: "action forbidden"; invoke-rc.d and deb-systemd-invoke start nothing.
  printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee "$policy" >/dev/null
  "${sudo_cmd[@]}" chmod 755 "$policy"
  own_policy=1
fi
remove_policy() {
  if ((own_policy)); then "${sudo_cmd[@]}" rm -f "$policy"; fi
}
trap remove_policy EXIT
"${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"

# The servers installed just now stay off at boot too (one that was there
# before is the machine owner's business).
for server in "${servers[@]}"; do
  [[ " ${missing[*]} " == *" $server "* ]] || continue
  command -v systemctl >/dev/null || continue
  if [ -d /run/systemd/system ]; then
    "${sudo_cmd[@]}" systemctl disable --now "$server.service" || true
  else
    "${sudo_cmd[@]}" systemctl disable "$server.service" || true
  fi
  # The System V links, for a machine that boots without systemd.
  if [ -x "/etc/init.d/$server" ] && command -v update-rc.d >/dev/null; then
    "${sudo_cmd[@]}" update-rc.d "$server" disable >/dev/null 2>&1 || true
  fi
done
generate_locales
