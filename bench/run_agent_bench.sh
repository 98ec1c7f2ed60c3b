#!/usr/bin/env bash
# cacheagent at scale:
#  1. `cacheagent scan` of a tree of N files against
#     `find DIR -printf '%s %T@ %p\n' > /dev/null` on the same tree, best
#     of 3 each after a warm-up, and their ratio (the scan must stay within
#     2x of find);
#  2. `cacheagent backup` of M small text files against cachemanager-local
#     on loopback (compression wait 0): wall time and files per second.
# Usage: bench/run_agent_bench.sh [build-folder] [scan files] [backup files]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build}" && pwd)"
SCAN_FILES="${2:-1000000}"
BACKUP_FILES="${3:-100000}"
ROOT="$(mktemp -d /tmp/zr-agent-bench.XXXXXX)"
SERVICE_PID=""
trap '[ -n "$SERVICE_PID" ] && kill $SERVICE_PID 2>/dev/null; rm -rf "$ROOT"' EXIT
export ZR_IPC_NAMESPACE="agent-bench-$$"
export VELKAN_DRIVE_C="$ROOT/drive"

make_tree() {  # folder, count: 100 files a folder, 100 folders a level
  python3 - "$1" "$2" <<'PY'
import os, sys
folder, count = sys.argv[1], int(sys.argv[2])
for i in range(count):
    sub = os.path.join(folder, f"a{i // 10000}", f"b{i // 100 % 100}")
    if i % 100 == 0:
        os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, f"note{i}.txt"), "w") as f:
        f.write(f"note {i}\n" * (1 + i % 50))
PY
}

source "$(dirname "$0")/agent_bench_common.sh"

echo "== scan: $SCAN_FILES files"
mkdir -p "$ROOT/drive/scan"
make_tree "$ROOT/drive/scan" "$SCAN_FILES"
config "$ROOT/drive/scan" "127.0.0.1:1"
find "$ROOT/drive/scan" -printf '%s %T@ %p\n' > /dev/null  # warm the caches
find_s=$(best_of_3 find "$ROOT/drive/scan" -printf '%s %T@ %p\n')
scan_s=$(best_of_3 "$BUILD/agent/cacheagent" scan "$ROOT/cfg.xml")
awk -v f="$find_s" -v s="$scan_s" -v n="$SCAN_FILES" \
  'BEGIN { printf "find %.2f s, cacheagent scan %.2f s (%.0f files/s): %.2fx the time of find\n", f, s, n / s, s / f }'
rm -rf "$ROOT/drive/scan" "$ROOT/dir.xml"

echo "== backup: $BACKUP_FILES small files"
mkdir -p "$ROOT/drive/home" "$ROOT/logs"
echo "agent" > "$ROOT/auth.xml"
make_tree "$ROOT/drive/home" "$BACKUP_FILES"
"$BUILD/localservice/cachemanager-local" --root "$ROOT/service" --port 0 > "$ROOT/service.out" &
SERVICE_PID=$!
for _ in $(seq 1 50); do grep -q "listening on" "$ROOT/service.out" 2>/dev/null && break; sleep 0.1; done
config "$ROOT/drive/home" "$(sed -n 's/^listening on //p' "$ROOT/service.out")"
start=$(date +%s.%N)
"$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml" > "$ROOT/backup.out"
end=$(date +%s.%N)
grep -E "^(uploaded|scanned)" "$ROOT/backup.out"
awk -v s="$start" -v e="$end" -v n="$BACKUP_FILES" \
  'BEGIN { printf "backup of %d files: %.1f s, %.0f files/s end to end\n", n, e - s, n / (e - s) }'
start=$(date +%s.%N)
"$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml" > "$ROOT/again.out"
end=$(date +%s.%N)
awk -v s="$start" -v e="$end" -v n="$BACKUP_FILES" \
  'BEGIN { printf "second backup, nothing changed: %.1f s (%.0f files/s)\n", e - s, n / (e - s) }'
