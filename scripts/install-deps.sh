#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, only those that are missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev qt6-serialport-dev libgl-dev
    libsqlite3-dev libssl-dev libpq-dev
    postgresql
    fonts-liberation locales
    xvfb x11-apps imagemagick poppler-utils
    shared-mime-info
    systemd # systemd-analyze and systemd-sysusers, for the round service's test
    cups printer-driver-cups-pdf
    clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if ((${#missing[@]})); then
    echo "Installing: ${missing[*]}"
    SUDO=""
    if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi

# A second language for the tests of names that follow the system's language.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
    SUDO=""
    if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
    $SUDO localedef -i de_DE -f UTF-8 de_DE.UTF-8
fi
