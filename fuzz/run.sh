#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) into build-fuzz and runs each for a while.
#   fuzz/run.sh [seconds per target] [target ...]
# Default: 60 seconds for every target. Corpora grow under
# build-fuzz/corpus/<target> (started from fuzz/corpus/<target>); a crash
# leaves its input in build-fuzz/artifacts/<target>/ and fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET=${1:-60}
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  TARGETS=(fuzz_xml fuzz_snapshot fuzz_action_set fuzz_policy_list fuzz_ghost_content fuzz_configurator
           fuzz_image fuzz_service_request)
fi

scripts/install-deps.sh --fuzz
CC=clang CXX=clang++ scripts/build.sh build-fuzz -DZR_BUILD_FUZZ=ON -DZR_BUILD_TESTS=OFF -DZR_BUILD_BENCH=OFF

# Larger inputs only where a format needs room (pictures, DIME messages).
max_len_of() {
  case "$1" in
    fuzz_image|fuzz_service_request) echo 32768 ;;
    *) echo 8192 ;;
  esac
}

failed=()
for target in "${TARGETS[@]}"; do
  corpus=build-fuzz/corpus/$target
  artifacts=build-fuzz/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  echo "== $target: ${SECONDS_PER_TARGET} s"
  if ! build-fuzz/fuzz/"$target" "$corpus" fuzz/corpus/"$target" \
      -max_total_time="$SECONDS_PER_TARGET" -timeout=30 -rss_limit_mb=3072 -max_len="$(max_len_of "$target")" \
      -artifact_prefix="$artifacts/" -print_final_stats=1 > build-fuzz/"$target".log 2>&1; then
    failed+=("$target")
    tail -40 build-fuzz/"$target".log
  fi
  grep -E "^stat::number_of_executed_units|^stat::peak_rss_mb|^#.*DONE" build-fuzz/"$target".log || true
done

if [ ${#failed[@]} -ne 0 ]; then
  echo "fuzz: failures in ${failed[*]} (inputs under build-fuzz/artifacts/)" >&2
  exit 1
fi
echo "fuzz: every target ran ${SECONDS_PER_TARGET} s without a finding"
