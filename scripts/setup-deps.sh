#!/usr/bin/env bash
# Installs what building Glimmerox needs, only where something is missing:
# Debian/Ubuntu through apt-get (as root, or with sudo), macOS through Homebrew. Besides the
# build itself: dbus-daemon for the notification tests' private bus, appstreamcli and
# desktop-file-validate for the metainfo and desktop file checks, dpkg-dev and file for the package.
# Usage: scripts/setup-deps.sh [--fuzz]   (--fuzz adds clang and its libFuzzer runtime)
set -euo pipefail

want_fuzz=0
[ "${1:-}" = "--fuzz" ] && want_fuzz=1

if [ "$(uname -s)" = "Darwin" ]; then
    command -v brew >/dev/null || { echo "Homebrew is needed: https://brew.sh" >&2; exit 1; }
    for formula in cmake qt simdjson; do
        brew list --versions "$formula" >/dev/null 2>&1 || { echo "== brew install $formula"; brew install "$formula"; }
    done
    exit 0
fi

if ! command -v dpkg-query >/dev/null; then
    echo "Not a Debian-like system: install a C++20 compiler, CMake 3.25+, Qt 6 (base) and simdjson yourself." >&2
    exit 0
fi

packages=(build-essential cmake pkg-config qt6-base-dev libsimdjson-dev libgl-dev libxcb1-dev fonts-dejavu-core
          dbus-daemon appstream desktop-file-utils dpkg-dev file)
[ "$want_fuzz" = 1 ] && packages+=(clang libclang-rt-dev)

missing=()
for package in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ "${#missing[@]}" -eq 0 ] && exit 0

sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
echo "== installing system packages: ${missing[*]}"
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
