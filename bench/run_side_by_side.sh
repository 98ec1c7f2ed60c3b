#!/usr/bin/env bash
# cacheagent with cachemanager-local side by side with restic (a local
# repository), measured in one run on one tree of small files:
#   first backup, backup with nothing changed, backup with 1 % of the
#   files changed, restore of the whole tree; then our first backup of the
#   tree's first folder (3,840 files) against a service whose every answer
#   waits LATENCY ms (a real network's round trip), in files per second.
# Each figure is the best of RUNS (default 2); the ratio us/restic is what
# counts (this machine is shared and noisy). restic is installed from
# Debian's packages when missing.
# Usage: bench/run_side_by_side.sh [build-folder] [files] [latency-ms] [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build}" && pwd)"
FILES="${2:-100000}"
LATENCY="${3:-20}"
RUNS="${4:-2}"
ROOT="$(mktemp -d /tmp/zr-side-by-side.XXXXXX)"
SERVICE_PID=""
trap '[ -n "$SERVICE_PID" ] && kill $SERVICE_PID 2>/dev/null; rm -rf "$ROOT"' EXIT
export ZR_IPC_NAMESPACE="side-by-side-$$" VELKAN_DRIVE_C="$ROOT/drive" RESTIC_PASSWORD=bench
TREE="$ROOT/drive/home/ann"

if ! command -v restic >/dev/null; then
  echo "installing restic"
  if [ "$(id -u)" = 0 ]; then apt-get install -y restic >/dev/null; else sudo apt-get install -y restic >/dev/null; fi
fi

# N files of 1 to 8 KiB (half of each random, half text), about 190 a folder.
python3 - "$TREE" "$FILES" <<'PY'
import os, random, sys
root, count = sys.argv[1], int(sys.argv[2])
random.seed(7)
for i in range(count):
    folder = os.path.join(root, f"d{i // 192 // 20}", f"e{i // 192 % 20}")
    if i % 192 == 0:
        os.makedirs(folder, exist_ok=True)
    size = random.randint(1024, 8192)
    with open(os.path.join(folder, f"f{i}.txt"), "wb") as f:
        f.write(os.urandom(size // 2) + b"line of text\n" * ((size - size // 2) // 13 + 1))
PY
echo "tree: $FILES files, $(du -sh "$TREE" | cut -f1)"

start_service() {  # store, watched folder, extra options...
  [ -n "$SERVICE_PID" ] && kill $SERVICE_PID 2>/dev/null && wait $SERVICE_PID 2>/dev/null || true
  local store="$1" watched="$2"; shift 2
  "$BUILD/localservice/cachemanager-local" --root "$store" --port 0 "$@" > "$ROOT/service.out" 2>&1 &
  SERVICE_PID=$!
  for _ in $(seq 100); do grep -q listening "$ROOT/service.out" 2>/dev/null && break; sleep 0.1; done
  PORT=$(sed -n 's/^listening on .*:\([0-9]*\)$/\1/p' "$ROOT/service.out")
  cat > "$ROOT/cfg.xml" <<XML
<CachingPolicyEngineConfiguration>
  <policyEngine><dircontent value="$ROOT/dir.xml"/><cachecontent value="$ROOT/cache.xml"/>
    <actionset value="$ROOT/actions.xml"/></policyEngine>
  <cacheManagerClient server="127.0.0.1:$PORT"><accessDocument path="$ROOT/auth.xml"/><actionset path="$ROOT/actions.xml"/>
    <CompressionWait value="0"/><transcodedFolder path="$ROOT/transcoded"/></cacheManagerClient>
  <logging folder="$ROOT/logs" level="warning"/><cabinet path="$ROOT/cabinet.db"/>
  <agent workFolder="$ROOT/work"><watch path="$watched"/></agent>
</CachingPolicyEngineConfiguration>
XML
}
echo agent > "$ROOT/auth.xml"

seconds() {  # command...: wall time in seconds
  local start end
  start=$(date +%s.%N)
  "$@" > /dev/null 2>&1 || true
  end=$(date +%s.%N)
  awk -v s="$start" -v e="$end" 'BEGIN { printf "%.2f", e - s }'
}
least() { printf '%s\n' "$@" | sort -g | head -1; }
touch_one_percent() {  # seed
  python3 - "$TREE" "$FILES" "$1" <<'PY'
import os, random, sys
root, count, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(seed)
for i in random.sample(range(count), max(1, count // 100)):
    path = os.path.join(root, f"d{i // 192 // 20}", f"e{i // 192 % 20}", f"f{i}.txt")
    with open(path, "ab") as f:
        f.write(b"changed\n")
PY
}

declare -A US THEM
for phase in first unchanged touched restore; do US[$phase]=""; THEM[$phase]=""; done
for run in $(seq "$RUNS"); do
  rm -rf "$ROOT/store" "$ROOT/cabinet.db" "$ROOT/repo" "$ROOT/out"* "$ROOT/work"
  start_service "$ROOT/store" "$TREE"
  US[first]+=" $(seconds "$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml")"
  US[unchanged]+=" $(seconds "$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml")"
  touch_one_percent "$run"
  US[touched]+=" $(seconds "$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml")"
  sync
  US[restore]+=" $(seconds "$BUILD/agent/cacheagent" restore "$ROOT/cfg.xml" 'c:\home\ann' "$ROOT/out-us")"
  if ! diff -rq "$TREE" "$ROOT/out-us" > /dev/null; then echo "our restore differs from the tree"; exit 1; fi
  restic init -q -r "$ROOT/repo"
  THEM[first]+=" $(seconds restic -q -r "$ROOT/repo" backup "$TREE")"
  THEM[unchanged]+=" $(seconds restic -q -r "$ROOT/repo" backup "$TREE")"
  touch_one_percent "$((run + 100))"
  THEM[touched]+=" $(seconds restic -q -r "$ROOT/repo" backup "$TREE")"
  sync
  THEM[restore]+=" $(seconds restic -q -r "$ROOT/repo" restore latest --target "$ROOT/out-restic")"
done

printf '\n%-22s %10s %10s %8s\n' "work ($FILES files)" "us (s)" "restic (s)" "ratio"
for phase in first unchanged touched restore; do
  us=$(least ${US[$phase]}); them=$(least ${THEM[$phase]})
  printf '%-22s %10s %10s %8s\n' "$phase" "$us" "$them" "$(awk -v a="$us" -v b="$them" 'BEGIN { printf "%.2f", a / b }')"
done

# A first backup over a network's latency, of the first folder.
rm -rf "$ROOT/store" "$ROOT/cabinet.db" "$ROOT/work"
start_service "$ROOT/store" "$TREE/d0" --fault-latency "$LATENCY"
count=$(find "$TREE/d0" -type f | wc -l)
slow=$(seconds "$BUILD/agent/cacheagent" backup "$ROOT/cfg.xml")
printf '\nfirst backup of %s files with %s ms per answer: %s s, %s files/s\n' "$count" "$LATENCY" "$slow" \
  "$(awk -v n="$count" -v t="$slow" 'BEGIN { printf "%.0f", n / t }')"
