#!/usr/bin/env bash
# Cross-builds dornik, velkan and their tests for Windows with mingw-w64 and
# runs the tests under wine. Installs what it needs; the Windows libraries
# are built once into build-windows/deps and reused.
#   scripts/test-windows.sh [ctest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT="$PWD"
BUILD="$ROOT/build-windows"
started=$SECONDS

scripts/install-deps.sh --windows
scripts/build-windows-deps.sh "$BUILD/deps"
echo "test-windows: dependencies ready after $((SECONDS - started)) s"

# A fresh wine prefix for every run, and a wineserver that lives for the
# whole build and test (test discovery runs every test program under wine;
# without a running server each start pays for booting one).
export WINEPREFIX="$(mktemp -d /tmp/zr-wine.XXXXXX)"
export WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$WINEPREFIX"
}
trap cleanup EXIT
wineserver -p > /dev/null 2>&1 < /dev/null
wineboot --init > /dev/null 2>&1
echo "test-windows: wine prefix $WINEPREFIX ready after $((SECONDS - started)) s"

cmake -S "$ROOT" -B "$BUILD/project" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64.cmake" -DZR_WINDOWS_PREFIX="$BUILD/deps" \
  -DZR_BUILD_BENCH=OFF > "$BUILD/configure.log" || { cat "$BUILD/configure.log"; exit 1; }
cmake --build "$BUILD/project" -j "$(nproc)"
echo "test-windows: built after $((SECONDS - started)) s"

cd "$BUILD/project"
ctest --output-on-failure --timeout 900 -j "$(nproc)" "$@"
echo "test-windows: tests done after $((SECONDS - started)) s"
