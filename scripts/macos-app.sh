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
# The status-line bridge, beside the program, where the menu item installs it from.
bridge="$app/Contents/MacOS/glimmerox-statusline"

rpaths() { otool -l "$1" | awk '$1 == "cmd" && $2 == "LC_RPATH" { getline; getline; print $2 }'; }

echo "== copying the built bundle to $app"
rm -rf "$app"
mkdir -p "$out"
cp -R "$build/src/app/glimmerox.app" "$app"
if [ ! -x "$bridge" ]; then
    echo "$bridge is missing: build the glimmerox target (it builds the bridge too)" >&2
    exit 1
fi

echo "== macdeployqt"
deploy=$(command -v macdeployqt || echo "$(brew --prefix qt)/bin/macdeployqt")
"$deploy" "$app" -executable="$bridge"
# The build tree's search paths into Homebrew would let dyld pick Homebrew's Qt before the bundled one.
for executable in "$binary" "$bridge"; do
    rpaths "$executable" | { grep -v '^@' || true; } | while read -r path; do
        install_name_tool -delete_rpath "$path" "$executable"
    done
done
# Changed binaries lose their signature, and Apple Silicon runs no unsigned code: sign ad hoc,
# the bridge on its own first (--deep does not reach a second executable in Contents/MacOS).
codesign --force --sign - "$bridge"
codesign --force --deep --sign - "$app"
codesign --verify --strict "$bridge"

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

echo "== running the bridge as Claude Code does, with the same empty home"
payload='{"session_id":"s","cwd":"/tmp/app","context_window":{"used_percentage":12}}'
line=$(printf '%s' "$payload" | HOME="$home" DYLD_PRINT_LIBRARIES=1 "$bridge" 2>"$log")
if [ "$line" != "app · ctx 12%" ]; then
    cat "$log" >&2
    echo "the bundled bridge printed '$line'" >&2
    exit 1
fi
if grep -E '(/opt/homebrew|/usr/local|/opt/local)/' "$log" >&2; then
    echo "the bundled bridge loaded the libraries above from outside the bundle" >&2
    exit 1
fi
rm -rf "$home" "$log"
echo "== $app and its bridge run on their own"
