#!/usr/bin/env bash
# Installs every Debian package that the build, the tests, the tools, the demo
# and the benchmarks need. Safe to run again. Run as root (or with sudo).
set -euo pipefail

packages=(
    # build
    build-essential cmake pkg-config
    qtbase5-dev qttools5-dev qttools5-dev-tools qttranslations5-l10n
    libquazip1-qt5-dev liblog4cpp5-dev libssl-dev
    libx11-dev libxtst-dev
    # syntax check of the Windows platform files (scripts/check-windows.sh)
    g++-mingw-w64-x86-64-posix
    # tests, fuzzing and sanitizers
    clang libclang-rt-14-dev
    tinyproxy xvfb xauth x11-utils openssl curl unzip zip
    # real servers the tests start themselves: an HTTPS server, an
    # authenticating proxy
    nginx squid
    # screenshots of the dialogs (window manager for title bars and icons)
    openbox
    util-linux procps psmisc time strace
    # fonts for the dialogs, including Polish and Croatian letters
    fonts-dejavu-core
)

if [ "$(id -u)" -ne 0 ]; then
    exec sudo "$0" "$@"
fi

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    echo "install-deps: all packages are installed"
    exit 0
fi

echo "install-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# nginx and squid start their system services when installed. The tests run
# their own instances, so none is wanted, and on a machine without an init
# system the attempt may fail the installation: while installing, a
# policy-rc.d (unless the machine has its own) tells invoke-rc.d to start
# nothing.
policy=/usr/sbin/policy-rc.d
if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy"
    chmod 755 "$policy"
    trap 'rm -f "$policy"' EXIT
fi
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
