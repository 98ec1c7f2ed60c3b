#!/usr/bin/env bash
# The main job, start to end on one machine: installs the dependencies,
# builds, starts cachemanager-local on loopback with a fresh store, makes a
# sample folder tree and backs it up with cacheagent (scan, cache listing,
# dornik, velkan), changes and deletes files, backs up again, checks the
# cache against the folder, restores it into a fresh folder and compares.
# Everything lives in demo-run/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
ROOT="$PWD"
BIN="$ROOT/build"
RUN="$ROOT/demo-run"
rm -rf "$RUN"
mkdir -p "$RUN/drive/home/ann" "$RUN/logs"
cp -r www "$RUN/www"
export VELKAN_DRIVE_C="$RUN/drive"
export ZR_IPC_NAMESPACE="demo-$$"
HOME_DIR="$RUN/drive/home/ann"
START=$(date +%s.%N)

echo "== a sample folder tree in $HOME_DIR"
mkdir -p "$HOME_DIR"/{Documents/Projects,Pictures/Holiday,Music,Programs}
for i in $(seq 1 12); do
  { echo "Report $i"; for n in $(seq 1 400); do echo "line $n of report $i: the quarterly figures are in order"; done; } \
    > "$HOME_DIR/Documents/report$i.txt"
done
cp /usr/share/common-licenses/GPL-3 "$HOME_DIR/Documents/licence.doc"
cp /usr/share/common-licenses/Apache-2.0 "$HOME_DIR/Documents/Projects/plan.xls"
echo "version 1" > "$HOME_DIR/Documents/changing.txt"
echo "to be deleted" > "$HOME_DIR/Documents/old-notes.txt"
"$BIN/bench/prepare_tool" make-jpeg 4000 3000 "$HOME_DIR/Pictures/Holiday/beach.jpg"
"$BIN/bench/prepare_tool" make-jpeg 640 480 "$HOME_DIR/Pictures/Holiday/thumb.jpg"
"$BIN/bench/prepare_tool" make-png 1600 1200 "$HOME_DIR/Pictures/diagram.png"
head -c 300000 /dev/urandom > "$HOME_DIR/Music/song.mp3"
cp /bin/ls "$HOME_DIR/Programs/tool.exe"
find "$HOME_DIR" -type f | wc -l | xargs echo "files:"

echo "== cachemanager-local"
"$BIN/localservice/cachemanager-local" --root "$RUN/service" --port 0 > "$RUN/service.out" 2> "$RUN/service.err" &
SERVICE_PID=$!
trap 'kill $SERVICE_PID 2>/dev/null || true' EXIT
for _ in $(seq 1 50); do grep -q "listening on" "$RUN/service.out" 2>/dev/null && break; sleep 0.1; done
ADDRESS=$(sed -n 's/^listening on //p' "$RUN/service.out")
echo "listening on $ADDRESS"
echo "<agent>ann's workstation</agent>" > "$RUN/accessdocument.xml"

cat > "$RUN/cachingpolicyengine.xml" <<XML
<CachingPolicyEngineConfiguration>
  <policyEngine>
    <dircontent value="$RUN/dircontent.xml"/>
    <cachecontent value="$RUN/cachecontent.xml"/>
    <actionset value="$RUN/actionset.xml"/>
  </policyEngine>
  <cacheManagerClient server="$ADDRESS">
    <accessDocument path="$RUN/accessdocument.xml"/>
    <actionset path="$RUN/actionset.xml"/>
    <CompressionWait value="0"/>
    <transcodedFolder path="$RUN/transcoded"/>
  </cacheManagerClient>
  <logging folder="$RUN/logs"/>
  <cabinet path="$RUN/cabinet.db"/>
  <agent workFolder="$RUN">
    <watch path="$HOME_DIR"><exclude pattern="*.tmp"/></watch>
  </agent>
</CachingPolicyEngineConfiguration>
XML
AGENT="$BIN/agent/cacheagent"
CONFIG="$RUN/cachingpolicyengine.xml"

echo "== first backup"
"$AGENT" backup "$CONFIG"

echo "== changing the tree: one file edited, one deleted, one added"
echo "version 2, longer than before" > "$HOME_DIR/Documents/changing.txt"
rm "$HOME_DIR/Documents/old-notes.txt"
echo "a new idea" > "$HOME_DIR/Documents/Projects/idea.txt"
"$AGENT" check "$CONFIG" || true

echo "== second backup"
"$AGENT" backup "$CONFIG"

echo "== check: does the cache hold what the folder holds?"
"$AGENT" check "$CONFIG"

echo "== restore into a fresh folder"
"$AGENT" restore "$CONFIG" 'c:\home\ann' "$RUN/restored"
differ=0
while IFS= read -r -d '' file; do
  relative="${file#"$HOME_DIR"/}"
  case "$relative" in Pictures/*) continue ;; esac  # pictures come back as stored: scaled
  cmp -s "$file" "$RUN/restored/$relative" || { echo "  differs: $relative"; differ=1; }
done < <(find "$HOME_DIR" -type f -print0)
[ "$differ" -eq 0 ] && echo "every restored file but the pictures equals its original, byte for byte"

END=$(date +%s.%N)
echo "== done in $(awk -v s="$START" -v e="$END" 'BEGIN { printf "%.1f", e - s }') s"
echo "status page: $AGENT status $CONFIG, then open http://127.0.0.1:8765/www/index.html"
echo "logs: $RUN/logs/dornik.log, $RUN/logs/velkan.log, $RUN/logs/cacheagent.log"
[ "$differ" -eq 0 ]
