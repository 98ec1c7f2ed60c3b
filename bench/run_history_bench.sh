#!/usr/bin/env bash
# The history's cost, against cachemanager-local on loopback:
#  1. a backup of N small files, then one after a tenth of them changed and
#     a folder of them was deleted: what each kept version costs the store
#     and the catalogue beyond its own content;
#  2. `cacheagent ls CONFIG --at TIME` (the tree as it was before the
#     second backup) against `cacheagent ls CONFIG` (as it is) on the same
#     store, best of 3 each, and their ratio (goal: under 2 s on 10^5 files).
# Usage: bench/run_history_bench.sh [build-folder] [files]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build}" && pwd)"
FILES="${2:-100000}"
ROOT="$(mktemp -d /tmp/zr-history-bench.XXXXXX)"
SERVICE_PID=""
trap '[ -n "$SERVICE_PID" ] && kill $SERVICE_PID 2>/dev/null; rm -rf "$ROOT"' EXIT
export ZR_IPC_NAMESPACE="history-bench-$$"
export VELKAN_DRIVE_C="$ROOT/drive"

make_tree() {  # folder, count, text: 100 files a folder, 100 folders a level
  python3 - "$1" "$2" "$3" <<'PY'
import os, sys
folder, count, text = sys.argv[1], int(sys.argv[2]), sys.argv[3]
for i in range(count):
    sub = os.path.join(folder, f"a{i // 10000}", f"b{i // 100 % 100}")
    if i % 100 == 0:
        os.makedirs(sub, exist_ok=True)
    path = os.path.join(sub, f"note{i}.txt")
    if text == "first" or i % 10 == 0:
        with open(path, "w") as f:
            f.write(f"{text} note {i}\n" * (1 + i % 50))
PY
}

source "$(dirname "$0")/agent_bench_common.sh"

bytes_of() { du -sb "$1" | cut -f1; }

mkdir -p "$ROOT/drive/home" "$ROOT/logs"
echo "agent" > "$ROOT/auth.xml"
make_tree "$ROOT/drive/home" "$FILES" first
start_service "$ROOT/service"
config "$ROOT/drive/home" "$SERVER"

echo "== first backup: $FILES small files"
"$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml" > "$ROOT/backup1.out"
grep -E "^uploaded" "$ROOT/backup1.out" || true
store1=$(bytes_of "$ROOT/service/store")
catalogue1=$(bytes_of "$ROOT/service/catalogue.db")
sleep 1.1
BEFORE="$(date '+%Y-%m-%d %H:%M:%S')"
sleep 1.1

echo "== a tenth changed, one folder of 100 deleted"
make_tree "$ROOT/drive/home" "$FILES" second
rm -rf "$ROOT/drive/home/a0/b1"
"$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml" --allow-changes --allow-deletions > "$ROOT/backup2.out"
grep -E "^uploaded|^deleted" "$ROOT/backup2.out" || true
echo "== ls: as it is, and as it was before the second backup"
now_s=$(best_of_3 "$BUILD/agent/cacheagent" ls "$ROOT/cfg.xml")
at_s=$(best_of_3 "$BUILD/agent/cacheagent" ls "$ROOT/cfg.xml" --at "$BEFORE")
listed=$("$BUILD/agent/cacheagent" ls "$ROOT/cfg.xml" --at "$BEFORE" | tail -1)
echo "ls --at lists: $listed"
awk -v a="$now_s" -v b="$at_s" 'BEGIN { printf "ls %.2f s, ls --at %.2f s: %.2fx the time of ls\n", a, b, b / a }'

# The service holds its catalogue alone while it runs.
kill "$SERVICE_PID"; wait "$SERVICE_PID" 2>/dev/null || true; SERVICE_PID=""
store2=$(bytes_of "$ROOT/service/store")
catalogue2=$(bytes_of "$ROOT/service/catalogue.db")
versions=$(python3 - "$ROOT/service/catalogue.db" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
count, size = db.execute("SELECT COUNT(*), COALESCE(SUM(size), 0) FROM versions").fetchone()
print(count, size)
PY
)
read -r version_count version_bytes <<< "$versions"
awk -v n="$version_count" -v vb="$version_bytes" -v s1="$store1" -v s2="$store2" -v c1="$catalogue1" -v c2="$catalogue2" \
  'BEGIN { printf "%d versions kept (%d bytes of content); store grew %d bytes, catalogue %d bytes: %.0f bytes of catalogue a version\n", n, vb, s2 - s1, c2 - c1, (c2 - c1) / (n > 0 ? n : 1) }'

