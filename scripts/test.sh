#!/usr/bin/env bash
# Installs the dependencies, builds everything and runs all tests.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
cd build && ctest --output-on-failure --parallel "$(nproc)"
