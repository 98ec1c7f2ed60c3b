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
