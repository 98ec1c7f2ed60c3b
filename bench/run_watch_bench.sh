#!/usr/bin/env bash
# What `cacheagent watch` costs, against cachemanager-local on loopback:
#  1. idle: CPU time and resident memory of the watching agent over a quiet
#     minute, on a tree of N small files in N/10 folders (goal: under 0.5 %
#     of a core and 100 MB with 10^5 files in 10^4 folders);
#  2. one saved file: seconds from the save until the cache lists it (the
#     settle time, 1 s here, included), and the time of the cycle that
#     backed it up against a no-change `cacheagent backup` of the whole tree
#     measured in the same run (their ratio: the cost of a change is that
#     folder's, not the tree's);
#  3. many saves, one every 50 ms into folders picked at random: seconds
#     from each save until the service stored it, p50 and p95 (goal: p95
#     under the settle time + 3 s). The catalogue keeps whole seconds, so
#     each figure is taken at its upper bound (stored second + 1).
# Usage: bench/run_watch_bench.sh [build-folder] [files] [idle-seconds] [saves]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build}" && pwd)"
FILES="${2:-100000}"
IDLE="${3:-60}"
SAVES="${4:-1000}"
ROOT="$(mktemp -d /tmp/zr-watch-bench.XXXXXX)"
SERVICE_PID=""
WATCH_PID=""
trap '[ -n "$WATCH_PID" ] && kill $WATCH_PID 2>/dev/null; [ -n "$SERVICE_PID" ] && kill $SERVICE_PID 2>/dev/null; sleep 0.5; [ -n "${KEEP:-}" ] || rm -rf "$ROOT"' EXIT
export ZR_IPC_NAMESPACE="watch-bench-$$"
export VELKAN_DRIVE_C="$ROOT/drive"

source "$(dirname "$0")/agent_bench_common.sh"

mkdir -p "$ROOT/drive/home" "$ROOT/logs"
echo "agent" > "$ROOT/auth.xml"
make_note_tree "$ROOT/drive/home" "$FILES" 10
start_service "$ROOT/service"
config "$ROOT/drive/home" "$SERVER"
folders=$(find "$ROOT/drive/home" -type d | wc -l)

echo "== $FILES files in $folders folders: first backup, then a no-change backup of the whole tree"
"$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml" > "$ROOT/backup1.out"
full=$(best_of_3 "$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml")
echo "no-change backup of the whole tree: $full s (best of 3)"

"$BUILD/agent/cacheagent" watch "$ROOT/cfg.xml" --settle 1 > "$ROOT/watch.out" 2>&1 &
WATCH_PID=$!
for _ in $(seq 1 600); do grep -q "^watching" "$ROOT/watch.out" && break; sleep 0.5; done
grep "^watching" "$ROOT/watch.out"

ticks() { awk '{ print $14 + $15 }' "/proc/$WATCH_PID/stat"; }
hz=$(getconf CLK_TCK)
before=$(ticks)
sleep "$IDLE"
after=$(ticks)
rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$WATCH_PID/status")
echo "idle for $IDLE s: $(awk -v d=$((after - before)) -v hz="$hz" -v s="$IDLE" 'BEGIN { printf "%.3f", d / hz / s * 100 }') % of a core, $((rss / 1024)) MB resident"

echo "== one file saved"
cycles=$(grep -c "^backup took" "$ROOT/watch.out" || true)
start=$(date +%s.%N)
echo "saved while watching" > "$ROOT/drive/home/a1/b150/saved.txt"
for _ in $(seq 1 600); do
  listed=$("$BUILD/agent/cacheagent" ls "$ROOT/cfg.xml" 'c:\home\a1\b150' 2>/dev/null || true)
  [[ "$listed" == *saved.txt* ]] && break
  sleep 0.1
done
end=$(date +%s.%N)
echo "in the cache after $(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }') s (settle time 1 s)"
watch_says() { grep -o "$1=\"[^\"]*\"" "$ROOT/status/cs_watch.xml" | head -1 | cut -d'"' -f2; }
for _ in $(seq 1 100); do [ "$(grep -c "^backup took" "$ROOT/watch.out")" -gt "$cycles" ] && break; sleep 0.1; done
sleep 0.5
cycle=$(awk -v ms="$(watch_says durationMs)" 'BEGIN { printf "%.3f", ms / 1000 }')
echo "its cycle: $cycle s; a no-change backup of the whole tree: $full s; ratio $(awk -v c="$cycle" -v f="$full" 'BEGIN { printf "%.3f", c / f }')"

echo "== $SAVES saves, one every 50 ms, into folders picked at random"
python3 - "$ROOT/drive/home" "$FILES" 10 "$SAVES" > "$ROOT/saves.txt" <<'PY'
import os, random, sys, time
folder, count, per, saves = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4])
random.seed(7)
for n in range(saves):
    i = random.randrange(count)
    relative = f"a{i // (per * 100)}/b{i // per}/saved-{n}.txt"
    with open(os.path.join(folder, relative), "w") as f:
        f.write(f"save {n}\n")
    print("c:\\home\\" + relative.replace("/", "\\"), f"{time.time():.3f}")
    time.sleep(0.05)
PY
quiet=0
for _ in $(seq 1 1200); do
  if [ "$(watch_says state)" = "watching" ] && [ "$(watch_says pending)" = "0" ]; then quiet=$((quiet + 1)); else quiet=0; fi
  [ "$quiet" -ge 10 ] && break
  sleep 0.2
done
kill -INT "$WATCH_PID"; wait "$WATCH_PID" || true; WATCH_PID=""
kill "$SERVICE_PID"; wait "$SERVICE_PID" || true; SERVICE_PID=""
sqlite3 "$ROOT/service/catalogue.db" "SELECT path, updated FROM files WHERE path LIKE '%saved-%'" | tr '|' ' ' > "$ROOT/stored.txt"
awk 'NR == FNR { saved[$1] = $2; next } ($1 in saved) { print $2 + 1 - saved[$1] }' "$ROOT/saves.txt" "$ROOT/stored.txt" |
  sort -n > "$ROOT/latency.txt"
stored=$(wc -l < "$ROOT/latency.txt")
awk -v n="$stored" -v saves="$SAVES" '{ v[NR] = $1 } END {
  if (n == 0) { print "none of the saves reached the cache"; exit }
  printf "%d of %d saves stored; seconds from save to stored (upper bound): p50 %.2f, p95 %.2f, max %.2f (settle time 1 s)\n",
         n, saves, v[int((n - 1) * 0.5) + 1], v[int((n - 1) * 0.95) + 1], v[n] }' "$ROOT/latency.txt"
