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

source "$(dirname "$0")/agent_bench_common.sh"

echo "== scan: $SCAN_FILES files"
mkdir -p "$ROOT/drive/scan"
make_note_tree "$ROOT/drive/scan" "$SCAN_FILES"
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
make_note_tree "$ROOT/drive/home" "$BACKUP_FILES"
start_service "$ROOT/service"
config "$ROOT/drive/home" "$SERVER"
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
