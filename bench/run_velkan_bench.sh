#!/usr/bin/env bash
# velkan end to end against cachemanager-local on loopback:
#  1. 10,000 small files through dornik and velkan: files per second, and
#     where the time goes;
#  2. CPU throttling: gzip preparation of a tree of large text files with
#     `velkan cfg 25` against `velkan cfg` (100 %): the CPU share taken.
# Usage: bench/run_velkan_bench.sh [build-folder] [small-files] [large-files-MiB]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$PWD/${1:-build}"
SMALL="${2:-10000}"
LARGE_MIB="${3:-400}"
WORK="$(mktemp -d /tmp/zr-velkan-bench.XXXXXX)"
trap 'kill $SERVICE_PID 2>/dev/null || true; rm -rf "$WORK"' EXIT
export VELKAN_DRIVE_C="$WORK/drive"
export ZR_IPC_NAMESPACE="bench-$$"
mkdir -p "$WORK/drive/home" "$WORK/status" "$WORK/logs"
echo "agent" > "$WORK/auth.xml"

"$BUILD/localservice/cachemanager-local" --root "$WORK/service" --port 0 > "$WORK/service.out" &
SERVICE_PID=$!
for _ in $(seq 1 50); do grep -q "listening on" "$WORK/service.out" 2>/dev/null && break; sleep 0.1; done
ADDRESS=$(sed -n 's/^listening on //p' "$WORK/service.out")

config() {  # tree
  cat > "$WORK/cfg.xml" <<XML
<CachingPolicyEngineConfiguration>
  <policyEngine><dircontent value="$WORK/dir.xml"/><cachecontent value="$WORK/none.xml"/>
    <actionset value="$WORK/actions.xml"/></policyEngine>
  <cacheManagerClient server="$ADDRESS"><accessDocument path="$WORK/auth.xml"/><actionset path="$WORK/actions.xml"/>
    <CompressionWait value="0"/><transcodedFolder path="$WORK/transcoded"/></cacheManagerClient>
  <logging folder="$WORK/logs" level="warning"/><cabinet path="$WORK/cabinet.db"/>
</CachingPolicyEngineConfiguration>
XML
  python3 scripts/snapshot.py dir-content "$1" "$WORK/drive" "$WORK/dir.xml"
  "$BUILD/engine/dornik" "$WORK/cfg.xml"
}

timed() {  # label, command... : wall, user+sys, share of one core
  local label="$1"
  shift
  /usr/bin/time -f "%e %U %S" -o "$WORK/time" "$@" > /dev/null
  read -r wall user sys < "$WORK/time"
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" \
    'BEGIN { printf "%-40s wall %7.2f s  cpu %7.2f s  share %5.1f %% of one core\n", l, w, u+s, 100*(u+s)/w }'
}

echo "== $SMALL small files"
mkdir -p "$WORK/drive/home/small"
python3 - "$WORK/drive/home/small" "$SMALL" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    sub = os.path.join(folder, f"d{i // 500}")
    os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, f"note{i}.txt"), "w") as f:
        f.write(f"note {i}\n" * (100 + i % 300))
PY
start=$(date +%s.%N)
config "$WORK/drive/home/small"
after_dornik=$(date +%s.%N)
(cd "$WORK" && timed "velkan, $SMALL small files" ${VELKAN_WRAPPER:-} "$BUILD/client/velkan" "$WORK/cfg.xml")
end=$(date +%s.%N)
awk -v s="$start" -v d="$after_dornik" -v e="$end" -v n="$SMALL" \
  'BEGIN { printf "dornik %.2f s, velkan %.2f s: %.0f files per second end to end\n", d-s, e-d, n/(e-s) }'
stored=$(ls "$WORK/service/store" | wc -l)
echo "service store folders: $stored"

echo "== CPU throttling: ${LARGE_MIB} MiB of text to compress"
mkdir -p "$WORK/drive/home/large"
for i in $(seq 1 $((LARGE_MIB / 20))); do
  find /usr/include -name '*.h' -print0 | xargs -0 cat 2>/dev/null | head -c $((20 << 20)) > "$WORK/drive/home/large/big$i.txt" || true
done
config "$WORK/drive/home/large"
(cd "$WORK" && timed "velkan at 100 %" "$BUILD/client/velkan" "$WORK/cfg.xml")
config "$WORK/drive/home/large"
(cd "$WORK" && timed "velkan at 25 %" "$BUILD/client/velkan" "$WORK/cfg.xml" 25)
