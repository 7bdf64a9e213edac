#!/usr/bin/env bash
# Installs what building Glimmerox needs, only where something is missing:
# Debian/Ubuntu through apt-get (as root, or with sudo), macOS through Homebrew.
# Usage: scripts/setup-deps.sh [--tests|--fuzz]
#   --tests adds what the test run uses besides the build: dbus-daemon for the notification tests'
#           private bus, tzdata for the run in another time zone, appstreamcli and desktop-file-validate
#           for the metainfo and desktop file, and dpkg-dev, file and lintian for the Debian package;
#   --fuzz  adds clang and its libFuzzer runtime.
set -euo pipefail

extra=${1:-}

if [ "$(uname -s)" = "Darwin" ]; then
    command -v brew >/dev/null || { echo "Homebrew is needed: https://brew.sh" >&2; exit 1; }
    for formula in cmake qt simdjson; do
        brew list --versions "$formula" >/dev/null 2>&1 || { echo "== brew install $formula"; brew install "$formula"; }
    done
    exit 0
fi

if ! command -v dpkg-query >/dev/null; then
    echo "Not a Debian-like system: install a C++20 compiler, CMake 3.25+, Qt 6.4+ (base) and simdjson yourself." >&2
    exit 0
fi

packages=(build-essential cmake pkg-config qt6-base-dev libsimdjson-dev libgl-dev libxcb1-dev fonts-dejavu-core)
case "$extra" in
--tests) packages+=(dbus-daemon tzdata appstream desktop-file-utils dpkg-dev file lintian) ;;
--fuzz) packages+=(clang libclang-rt-dev) ;;
esac

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
