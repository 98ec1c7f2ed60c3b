#!/usr/bin/env bash
# Runs the backup's promise test (random trees, edits and faults) on many
# seeds: scripts/promise-soak.sh [build-folder] [seeds] [first seed] [rounds]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
export ZR_PROMISE_SEEDS="${2:-1000}" ZR_PROMISE_FIRST_SEED="${3:-1}" ZR_PROMISE_ROUNDS="${4:-6}"
exec "$BUILD/tests/promise_tests" --gtest_filter='PromiseProperty.*'
