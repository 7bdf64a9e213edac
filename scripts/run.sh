#!/usr/bin/env bash
# Builds Glimmerox (installing missing system packages first) and starts the panel.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup-deps.sh
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
prefix=()
[ "$(uname -s)" = "Darwin" ] && prefix=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt);$(brew --prefix)")
echo "== configuring and building in build/"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DGLIMMEROX_BUILD_TESTS=OFF "${prefix[@]}" >/dev/null
cmake --build build --target glimmerox glimmerox-statusline --parallel "$jobs"
echo "== starting the panel"
if [ -d build/src/app/glimmerox.app ]; then
    exec open -W build/src/app/glimmerox.app
fi
exec build/src/app/glimmerox
