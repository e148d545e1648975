#!/usr/bin/env bash
# Installs what the Windows build and its tests under Wine need, only when missing: the
# MinGW-w64 cross compiler (POSIX thread model, for std::thread and std::mutex), GoogleTest's
# sources (cross-built for the Windows tests), Wine with its Winelib tools (the test-only client
# library stand-in is a Winelib module), Firebird's client library, header, embedded engine and
# isql-fb (the stand-in forwards to the Linux client; the tests create their databases with
# isql-fb), zip and unzip (cpack's ZIP package and its check) and the ru_RU.UTF-8 locale (Wine
# then runs with code page 1251 and Russian regional settings).
set -euo pipefail

packages=(
  build-essential cmake zip unzip locales googletest
  g++-mingw-w64-x86-64-posix
  wine wine64 wine64-tools libwine-dev
  libfbclient2 firebird-dev firebird3.0-server-core firebird3.0-utils
)

bash "$(dirname "$0")/apt-install-missing.sh" "${packages[@]}"

if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO sed -i 's/^# *\(ru_RU.UTF-8 UTF-8\)/\1/' /etc/locale.gen
  grep -q '^ru_RU.UTF-8 UTF-8' /etc/locale.gen || echo 'ru_RU.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen >/dev/null
  $SUDO locale-gen >/dev/null
fi
