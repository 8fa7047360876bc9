#!/usr/bin/env bash
# Installs the Debian packages Vaultix needs to build and test; does nothing
# when they are all present already.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config git
  zlib1g-dev libdeflate-dev libsqlite3-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format clang-tidy
  libiscsi-dev libiscsi-bin tgt
  python3 python3-pyftpdlib vsftpd curl time
  locales dosfstools fusefat fuse3
  qt6-base-dev qt6-translations-l10n xvfb imagemagick xdotool x11-utils fonts-dejavu-core
  dpkg-dev groff-base man-db systemd desktop-file-utils shared-mime-info
  dbus-daemon dbus-bin libglib2.0-bin
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 install -y -qq "${missing[@]}"
fi
