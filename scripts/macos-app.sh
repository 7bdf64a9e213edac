#!/usr/bin/env bash
# Makes a glimmerox.app that runs without Homebrew: macdeployqt copies Qt, its plugins and every
# other non-system library into the bundle. Run after scripts/test.sh (or any build in BUILD_DIR).
# Usage: scripts/macos-app.sh [BUILD_DIR] [OUT_DIR]      defaults: build-tests dist
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-tests}
out=${2:-dist}
app="$out/glimmerox.app"
binary="$app/Contents/MacOS/glimmerox"

rpaths() { otool -l "$1" | awk '$1 == "cmd" && $2 == "LC_RPATH" { getline; getline; print $2 }'; }

echo "== copying the built bundle to $app"
rm -rf "$app"
mkdir -p "$out"
cp -R "$build/src/app/glimmerox.app" "$app"

echo "== macdeployqt"
deploy=$(command -v macdeployqt || echo "$(brew --prefix qt)/bin/macdeployqt")
"$deploy" "$app"
# The build tree's search paths into Homebrew would let dyld pick Homebrew's Qt before the bundled one.
rpaths "$binary" | { grep -v '^@' || true; } | while read -r path; do
    install_name_tool -delete_rpath "$path" "$binary"
done
# Changed binaries lose their signature, and Apple Silicon runs no unsigned code: sign ad hoc.
codesign --force --deep --sign - "$app"

echo "== checking that nothing in the bundle refers to a library outside macOS and the bundle"
outside=$(find "$app/Contents" -type f -print0 | xargs -0 file | sed -n 's/^\(.*\): .*Mach-O.*/\1/p' | sort -u |
    while read -r file; do
        { otool -L "$file" | tail -n +2; rpaths "$file"; } | sed "s|^|$file: |"
    done | grep -E '(/opt/homebrew|/usr/local|/opt/local)/' || true)
if [ -n "$outside" ]; then
    echo "$outside" >&2
    exit 1
fi

echo "== starting the bundle for 10 seconds, with an empty home"
home=$(mktemp -d)
log=$(mktemp)
"$binary" --version
HOME="$home" DYLD_PRINT_LIBRARIES=1 "$binary" 2>"$log" &
pid=$!
sleep 10
if ! kill -0 "$pid" 2>/dev/null; then
    cat "$log" >&2
    echo "the bundled app ended early" >&2
    exit 1
fi
kill "$pid"
wait "$pid" 2>/dev/null || true
if grep -E '(/opt/homebrew|/usr/local|/opt/local)/' "$log" >&2; then
    echo "the bundled app loaded the libraries above from outside the bundle" >&2
    exit 1
fi
grep -q "glimmerox.app/Contents/Frameworks/QtCore" "$log" ||
    echo "(dyld listed no loaded libraries; the otool check above stands alone)"
rm -rf "$home" "$log"
echo "== $app runs on its own"
