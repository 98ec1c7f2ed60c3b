#!/usr/bin/env bash
# Configures and builds the project into a build folder (default: build).
# Usage: scripts/build.sh [build-folder] [extra cmake arguments...] [-- targets...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR="${1:-build}"
shift || true
CMAKE_ARGS=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do CMAKE_ARGS+=("$1"); shift; done
[ $# -gt 0 ] && shift  # the "--"
TARGETS=()
[ $# -gt 0 ] && TARGETS=(--target "$@")
GENERATOR=()
if command -v ninja >/dev/null 2>&1; then GENERATOR=(-G Ninja); fi
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" "${GENERATOR[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${CMAKE_ARGS[@]}"
else
  cmake -S . -B "$BUILD_DIR" "${CMAKE_ARGS[@]}" >/dev/null
fi
cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${TARGETS[@]}"
