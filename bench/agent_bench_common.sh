# What the agent benchmarks share: the configuration of one watched tree
# against a server, and the best of three timings. Sourced, not run.

config() {  # tree, server
  cat > "$ROOT/cfg.xml" <<XML
<CachingPolicyEngineConfiguration>
  <policyEngine><dircontent value="$ROOT/dir.xml"/><cachecontent value="$ROOT/cache.xml"/>
    <actionset value="$ROOT/actions.xml"/></policyEngine>
  <cacheManagerClient server="$2"><accessDocument path="$ROOT/auth.xml"/><actionset path="$ROOT/actions.xml"/>
    <CompressionWait value="0"/><transcodedFolder path="$ROOT/transcoded"/></cacheManagerClient>
  <logging folder="$ROOT/logs" level="warning"/><cabinet path="$ROOT/cabinet.db"/>
  <agent workFolder="$ROOT"><watch path="$1"/></agent>
</CachingPolicyEngineConfiguration>
XML
}

best_of_3() {  # command...: the least wall time in seconds
  local best=""
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@" > /dev/null
    end=$(date +%s.%N)
    best=$(awk -v s="$start" -v e="$end" -v b="$best" 'BEGIN { t = e - s; if (b == "" || t < b) b = t; printf "%.3f", b }')
  done
  echo "$best"
}

make_note_tree() {  # folder, count, files a folder: small text notes, 100 folders a level
  python3 - "$1" "$2" "${3:-100}" <<'PY'
import os, sys
folder, count, per = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
for i in range(count):
    sub = os.path.join(folder, f"a{i // (per * 100)}", f"b{i // per}")
    if i % per == 0:
        os.makedirs(sub, exist_ok=True)
    with open(os.path.join(sub, f"note{i}.txt"), "w") as f:
        f.write(f"note {i}\n" * (1 + i % 50))
PY
}

start_service() {  # store folder: cachemanager-local on a free port; sets SERVICE_PID and SERVER
  "$BUILD/localservice/cachemanager-local" --root "$1" --port 0 > "$ROOT/service.out" &
  SERVICE_PID=$!
  for _ in $(seq 1 50); do grep -q "listening on" "$ROOT/service.out" 2>/dev/null && break; sleep 0.1; done
  SERVER="$(sed -n 's/^listening on //p' "$ROOT/service.out")"
}
