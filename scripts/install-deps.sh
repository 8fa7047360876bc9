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
  qt6-base-dev xvfb imagemagick xdotool x11-utils fonts-dejavu-core
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

# The desktop program's tests run under the Slovak locale as well as C, and the
# screenshots are taken in it; English is the other language offered.
wanted_locales=(sk_SK.UTF-8 en_US.UTF-8)
have_locales=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
to_generate=()
for l in "${wanted_locales[@]}"; do
  short=$(printf '%s' "$l" | tr '[:upper:]' '[:lower:]' | sed 's/utf-8/utf8/')
  grep -qx "$short" <<<"$have_locales" || to_generate+=("$l")
done
if ((${#to_generate[@]})); then
  echo "generating locales: ${to_generate[*]}"
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  for l in "${to_generate[@]}"; do
    # Uncomment the line when it is there, add it when it is not.
    if grep -Eq "^#? *${l//./\\.} UTF-8" /etc/locale.gen; then
      "${sudo_cmd[@]}" sed -i -E "s/^# *(${l//./\\.} UTF-8)/\\1/" /etc/locale.gen
    else
      echo "$l UTF-8" | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
    fi
  done
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
