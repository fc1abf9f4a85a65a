#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages Meridane needs to build, test and run.
# Packages already installed are skipped; runs apt-get as root, or via sudo.
set -euo pipefail

packages=(
  build-essential cmake pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libqt6svg6 qt6-svg-dev qt6-qpa-plugins
  libxml2-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  libheif-dev libheif-examples libimage-exiftool-perl
  exiv2 exempi libexempi-dev strace
  clang libclang-rt-14-dev
  locales xvfb xauth dbus
  appstream desktop-file-utils lintian
)

missing=()
for pkg in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$pkg")
done

as_root() {
  if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi
}

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Number texts must not follow the user's locale; the tests check that under
# a decimal-comma locale, so make sure one exists.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  as_root sed -i 's/^# *\(de_DE.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
  as_root locale-gen >/dev/null
fi

echo "All build and test dependencies are installed."
