#!/usr/bin/env bash
# Builds Glimmerox with its tests (installing missing system packages first) and runs every test.
#   scripts/test.sh              normal build in build-tests/
#   scripts/test.sh --sanitize   AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --fuzz       libFuzzer targets built with clang in build-fuzz/, each run for a few seconds
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-normal}
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
prefix=()
[ "$(uname -s)" = "Darwin" ] && prefix=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt);$(brew --prefix)")
export QT_QPA_PLATFORM=offscreen

case "$mode" in
normal)
    scripts/setup-deps.sh
    echo "== building with tests in build-tests/"
    cmake -S . -B build-tests -DCMAKE_BUILD_TYPE=RelWithDebInfo "${prefix[@]}" >/dev/null
    cmake --build build-tests --parallel "$jobs"
    echo "== running the tests"
    ctest --test-dir build-tests --output-on-failure --parallel "$jobs"
    # The desktop entry and the AppStream metainfo, checked by the tools distributions use.
    if command -v desktop-file-validate >/dev/null; then
        echo "== desktop-file-validate"
        desktop-file-validate src/app/org.glimmerox.Glimmerox.desktop
    fi
    if command -v appstreamcli >/dev/null; then
        echo "== appstreamcli validate"
        appstreamcli validate --no-net src/app/org.glimmerox.Glimmerox.metainfo.xml
    fi
    ;;
--sanitize)
    scripts/setup-deps.sh
    echo "== building with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/"
    cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DGLIMMEROX_SANITIZE=ON "${prefix[@]}" >/dev/null
    cmake --build build-asan --parallel "$jobs"
    echo "== running the tests under the sanitizers"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        ctest --test-dir build-asan --output-on-failure --parallel "$jobs"
    ;;
--fuzz)
    scripts/setup-deps.sh --fuzz
    if [ "$(uname -s)" = "Darwin" ]; then
        echo "== Apple's clang has no libFuzzer runtime: fuzz targets skipped"
        exit 0
    fi
    if ! command -v clang++ >/dev/null; then
        echo "== clang++ not found: fuzz targets skipped"
        exit 0
    fi
    echo "== building the fuzz targets with clang in build-fuzz/"
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Debug -DGLIMMEROX_SANITIZE=ON \
        -DGLIMMEROX_FUZZ=ON "${prefix[@]}" >/dev/null
    targets=$(cmake --build build-fuzz --target help | sed -n 's/^\.\.\. \(fuzz_[a-z_]*\).*/\1/p' | grep -v '_autogen')
    [ -n "$targets" ] || { echo "no fuzz targets defined"; exit 0; }
    # shellcheck disable=SC2086
    cmake --build build-fuzz --parallel "$jobs" --target $targets
    for target in $targets; do
        echo "== fuzzing $target for 20 seconds"
        binary=$(find build-fuzz -type f -name "$target" -perm -u+x | head -n 1)
        corpus=$(mktemp -d)
        "$binary" -max_total_time=20 -max_len=4096 -print_final_stats=0 "$corpus" 2>&1 | tail -n 3
        rm -rf "$corpus"
    done
    ;;
*)
    echo "usage: scripts/test.sh [--sanitize|--fuzz]" >&2
    exit 2
    ;;
esac
