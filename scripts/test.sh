#!/usr/bin/env bash
# Builds Glimmerox with its tests (installing missing system packages first) and runs every test.
# The builds are the presets of CMakePresets.json:
#   scripts/test.sh              "release" in build-tests/: the suite, once more in the Pacific/Chatham time
#                                zone, then the desktop file, metainfo and Debian package checks
#   scripts/test.sh --sanitize   "sanitize" in build-asan/: AddressSanitizer + UndefinedBehaviorSanitizer
#   scripts/test.sh --fuzz       "fuzz" in build-fuzz/: libFuzzer targets built with clang, each run for a few seconds
set -euo pipefail
cd "$(dirname "$0")/.."
mode=${1:-normal}
jobs=$(getconf _NPROCESSORS_ONLN 2>/dev/null || sysctl -n hw.ncpu 2>/dev/null || echo 2)
prefix=()
[ "$(uname -s)" = "Darwin" ] && prefix=(-DCMAKE_PREFIX_PATH="$(brew --prefix qt);$(brew --prefix)")
export QT_QPA_PLATFORM=offscreen

case "$mode" in
normal)
    scripts/setup-deps.sh --tests
    echo "== building with tests in build-tests/"
    cmake --preset release "${prefix[@]}" >/dev/null
    cmake --build --preset release --parallel "$jobs"
    echo "== running the tests"
    ctest --preset release --parallel "$jobs"
    # Instants read as local time pass unnoticed where local time is UTC; Chatham is 12:45 or
    # 13:45 hours away. Without the zone's data the system silently falls back to UTC.
    if [ "$(TZ=Pacific/Chatham date +%z)" = "+0000" ]; then
        echo "the time zone Pacific/Chatham is unknown here (tzdata missing?)" >&2
        exit 1
    fi
    echo "== running the tests again with TZ=Pacific/Chatham"
    ctest --preset release-chatham --parallel "$jobs"

    # The installed desktop entry and AppStream metainfo, checked by the tools distributions use;
    # the tree check also finds the desktop file the metainfo launches.
    stage=$(mktemp -d)
    trap 'rm -rf "$stage"' EXIT
    cmake --install build-tests --prefix "$stage/usr" >/dev/null
    if command -v desktop-file-validate >/dev/null; then
        echo "== desktop-file-validate"
        desktop-file-validate "$stage"/usr/share/applications/*.desktop
    fi
    if command -v appstreamcli >/dev/null; then
        echo "== appstreamcli validate-tree"
        appstreamcli validate-tree --no-net "$stage"
    fi
    # The Debian package, as Debian's own checker sees it: warnings fail too.
    if command -v lintian >/dev/null && command -v dpkg-shlibdeps >/dev/null; then
        echo "== building the Debian package and running lintian"
        rm -f build-tests/glimmerox_*.deb
        (cd build-tests && cpack -G DEB >/dev/null)
        lintian --fail-on error,warning build-tests/glimmerox_*.deb
    fi
    ;;
--sanitize)
    scripts/setup-deps.sh --tests
    echo "== building with AddressSanitizer and UndefinedBehaviorSanitizer in build-asan/"
    cmake --preset sanitize "${prefix[@]}" >/dev/null
    cmake --build --preset sanitize --parallel "$jobs"
    echo "== running the tests under the sanitizers"
    ctest --preset sanitize --parallel "$jobs"
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
    cmake --preset fuzz "${prefix[@]}" >/dev/null
    targets=$(cmake --build --preset fuzz --target help | sed -n 's/^\.\.\. \(fuzz_[a-z_]*\).*/\1/p' | grep -v '_autogen')
    [ -n "$targets" ] || { echo "no fuzz targets defined"; exit 0; }
    # shellcheck disable=SC2086
    cmake --build --preset fuzz --parallel "$jobs" --target $targets
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
