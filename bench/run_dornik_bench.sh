#!/usr/bin/env bash
# Runs the built dornik end to end (parse, compute, write) on generated
# inputs of 10^4, 10^5 and 10^6 files and prints wall time and peak memory.
# Usage: bench/run_dornik_bench.sh [build-folder] [sizes...]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
shift || true
SIZES=("${@:-10000 100000 1000000}")
BUILD="$(cd "$BUILD" && pwd)"
DORNIK="$BUILD/engine/dornik"
GENERATOR="$BUILD/bench/snapshot_generator"
WORK="$(mktemp -d /tmp/zr-dornik-bench.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

measure() {  # label, config
  /usr/bin/time -f "%e %M" -o "$WORK/time" "$DORNIK" "$2" >/dev/null || { echo "$1: dornik failed"; cat "$WORK/logs/dornik.log"; exit 1; }
  read -r seconds kilobytes < "$WORK/time"
  printf "%-32s %8s s %8d MB\n" "$1" "$seconds" $((kilobytes / 1024))
}

config() {  # name, switches and settings
  { echo "<CachingPolicyEngineConfiguration><policyEngine>"; echo "$2"; echo "</policyEngine>"
    echo "<logging folder=\"logs\"/><cabinet path=\"cabinet.db\"/></CachingPolicyEngineConfiguration>"; } > "$WORK/$1"
}

config actionset.xml "<dircontent value=\"$WORK/dir.xml\"/><cachecontent value=\"$WORK/cache.xml\"/>
  <actionset value=\"$WORK/out.xml\"/>"
config unpersisted.xml "<generate_action_set value=\"false\"/><generate_unpersisted_dirs value=\"false\"/>
  <currdircontent value=\"$WORK/current.xml\"/><prevdircontent value=\"$WORK/previous.xml\"/>
  <unpersistedactionset value=\"$WORK/delete.xml\"/>"

config policies.xml "<generate_action_set value=\"false\"/>
  <currentpolicylist value=\"$WORK/curpolicies.xml\"/><prevpolicylist value=\"$WORK/prevpolicies.xml\"/>
  <expiredpolicyfile value=\"$WORK/expired.xml\"/><unpersistedDirs value=\"$WORK/unpersisted-dirs.xml\"/>
  <currentDirXml value=\"$WORK/currentdirs.txt\"/><prevDirXml value=\"$WORK/prevdirs.txt\"/>"

printf "%-32s %10s %11s\n" "run" "wall" "peak RSS"
for n in ${SIZES[*]}; do
  "$GENERATOR" snapshots "$n" "$WORK"
  measure "action set, n=$n" "$WORK/actionset.xml"
  "$GENERATOR" listings "$n" "$WORK"
  measure "unpersisted action set, n=$n" "$WORK/unpersisted.xml"
  "$GENERATOR" policies "$n" "$WORK"
  measure "unpersisted dirs, n=$n" "$WORK/policies.xml"
done
