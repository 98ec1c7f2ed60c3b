#!/usr/bin/env bash
# velkan end to end against cachemanager-local on loopback (compression
# wait 0), at growing sizes of a tree of small text files:
#  1. for each size: dornik, then velkan; files per second of the velkan
#     run (service and client together), velkan's CPU, the service's CPU,
#     and how the time grows from one size to the next (10x the files
#     should cost at most 11x the time);
#  2. with --throttle: gzip preparation of large text files with
#     `velkan cfg 25` against `velkan cfg`: the CPU share taken.
# Usage: bench/run_velkan_bench.sh [build-folder] [sizes...] [--throttle MiB]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build}" && pwd)"
shift || true
SIZES=()
THROTTLE_MIB=0
while [ $# -gt 0 ]; do
  case "$1" in
    --throttle) THROTTLE_MIB="$2"; shift 2 ;;
    *) SIZES+=("$1"); shift ;;
  esac
done
[ ${#SIZES[@]} -gt 0 ] || SIZES=(1000 10000 100000)
ROOT="$(mktemp -d /tmp/zr-velkan-bench.XXXXXX)"
SERVICE_PID=""
trap '[ -n "$SERVICE_PID" ] && kill $SERVICE_PID 2>/dev/null; rm -rf "$ROOT"' EXIT
export ZR_IPC_NAMESPACE="bench-$$"

cpu_of() {  # pid: user+system seconds so far
  awk '{ printf "%.2f", ($14 + $15) / 100 }' "/proc/$1/stat"
}

start_service() {  # work folder
  ${SERVICE_WRAPPER:-} "$BUILD/localservice/cachemanager-local" --root "$1/service" --port 0 > "$1/service.out" &
  SERVICE_PID=$!
  for _ in $(seq 1 50); do grep -q "listening on" "$1/service.out" 2>/dev/null && break; sleep 0.1; done
  ADDRESS=$(sed -n 's/^listening on //p' "$1/service.out")
}

stop_service() {
  kill "$SERVICE_PID" 2>/dev/null || true
  wait "$SERVICE_PID" 2>/dev/null || true
  SERVICE_PID=""
}

config() {  # work folder, tree
  cat > "$1/cfg.xml" <<XML
<CachingPolicyEngineConfiguration>
  <policyEngine><dircontent value="$1/dir.xml"/><cachecontent value="$1/none.xml"/>
    <actionset value="$1/actions.xml"/></policyEngine>
  <cacheManagerClient server="$ADDRESS"><accessDocument path="$1/auth.xml"/><actionset path="$1/actions.xml"/>
    <CompressionWait value="0"/><transcodedFolder path="$1/transcoded"/></cacheManagerClient>
  <logging folder="$1/logs" level="warning"/><cabinet path="$1/cabinet.db"/>
  <agent workFolder="$1"><watch path="$2"/></agent>
</CachingPolicyEngineConfiguration>
XML
  "$BUILD/agent/cacheagent" scan "$1/cfg.xml" > /dev/null
  "$BUILD/engine/dornik" "$1/cfg.xml"
}

make_small_files() {  # folder, count
  python3 - "$1" "$2" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    sub = os.path.join(folder, f"d{i // 500}")
    os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, f"note{i}.txt"), "w") as f:
        f.write(f"note {i}\n" * (100 + i % 300))
PY
}

printf "%-10s %9s %10s %12s %12s %10s\n" "files" "wall s" "files/s" "velkan cpu s" "service cpu" "growth"
previous=""
for n in "${SIZES[@]}"; do
  WORK="$ROOT/n$n"
  mkdir -p "$WORK/drive/home/small" "$WORK/status" "$WORK/logs"
  echo "agent" > "$WORK/auth.xml"
  export VELKAN_DRIVE_C="$WORK/drive"
  make_small_files "$WORK/drive/home/small" "$n"
  start_service "$WORK"
  config "$WORK" "$WORK/drive/home/small"
  service_before=$(cpu_of "$SERVICE_PID")
  (cd "$WORK" && /usr/bin/time -f "%e %U %S" -o "$WORK/time" ${VELKAN_WRAPPER:-} "$BUILD/client/velkan" "$WORK/cfg.xml" > /dev/null)
  service_after=$(cpu_of "$SERVICE_PID")
  stop_service
  read -r wall user sys < "$WORK/time"
  stored=$(find "$WORK/service/store" -type f | wc -l)
  [ "$stored" -ge "$n" ] || echo "only $stored of $n files stored" >&2
  growth=$(awk -v w="$wall" -v p="$previous" 'BEGIN { if (p == "") print "-"; else printf "%.1fx", w / p }')
  awk -v n="$n" -v w="$wall" -v u="$user" -v s="$sys" -v a="$service_before" -v b="$service_after" -v g="$growth" \
    'BEGIN { printf "%-10d %9.2f %10.0f %12.2f %12.2f %10s\n", n, w, n / w, u + s, b - a, g }'
  previous="$wall"
  rm -rf "$WORK"
done

if [ "$THROTTLE_MIB" -gt 0 ]; then
  echo "== CPU throttling: $THROTTLE_MIB MiB of text to compress"
  WORK="$ROOT/throttle"
  mkdir -p "$WORK/drive/home/large" "$WORK/status" "$WORK/logs"
  echo "agent" > "$WORK/auth.xml"
  export VELKAN_DRIVE_C="$WORK/drive"
  for i in $(seq 1 $((THROTTLE_MIB / 20))); do
    find /usr/include -name '*.h' -print0 | xargs -0 cat 2>/dev/null | head -c $((20 << 20)) \
      > "$WORK/drive/home/large/big$i.txt" || true
  done
  for share in 100 25; do
    start_service "$WORK"
    config "$WORK" "$WORK/drive/home/large"
    (cd "$WORK" && /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$BUILD/client/velkan" "$WORK/cfg.xml" "$share" > /dev/null)
    stop_service
    rm -rf "$WORK/service" "$WORK/cabinet.db"*
    read -r wall user sys < "$WORK/time"
    awk -v l="velkan at $share %" -v w="$wall" -v u="$user" -v s="$sys" \
      'BEGIN { printf "%-20s wall %7.2f s  cpu %7.2f s  share %5.1f %% of one core\n", l, w, u+s, 100*(u+s)/w }'
  done
fi
