#!/usr/bin/env bash
# The main job, start to end on one machine: installs the dependencies,
# builds, starts cachemanager-local on loopback with a fresh store, makes a
# sample folder tree, runs dornik (action set) and velkan (uploads), changes
# and deletes files, runs both again, and sums up. Everything lives in
# demo-run/.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
ROOT="$PWD"
BIN="$ROOT/build"
RUN="$ROOT/demo-run"
rm -rf "$RUN"
mkdir -p "$RUN/drive/home/ann" "$RUN/status" "$RUN/logs"
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

config() {  # the client's action set
  cat > "$RUN/cachingpolicyengine.xml" <<XML
<CachingPolicyEngineConfiguration>
  <policyEngine>
    <dircontent value="$RUN/dircontent.xml"/>
    <cachecontent value="$RUN/cachecontent.xml"/>
    <actionset value="$RUN/actionset.xml"/>
  </policyEngine>
  <cacheManagerClient server="$ADDRESS">
    <accessDocument path="$RUN/accessdocument.xml"/>
    <actionset path="$1"/>
    <outputFile path="$RUN/contents.xml"/>
    <CompressionWait value="0"/>
    <transcodedFolder path="$RUN/transcoded"/>
  </cacheManagerClient>
  <logging folder="$RUN/logs"/>
  <cabinet path="$RUN/cabinet.db"/>
</CachingPolicyEngineConfiguration>
XML
}

run_once() {  # label
  echo "== $1: dornik"
  python3 scripts/snapshot.py dir-content "$HOME_DIR" "$RUN/drive" "$RUN/dircontent.xml"
  config "$RUN/actionset.xml"
  "$BIN/engine/dornik" "$RUN/cachingpolicyengine.xml"
  python3 - "$RUN/actionset.xml" <<'PY'
import sys, xml.etree.ElementTree as ET
root = ET.parse(sys.argv[1]).getroot()
for action in root:
    print(f"  {action.get('name')}: {len(list(action))} entries")
PY
  echo "== $1: velkan"
  (cd "$RUN" && "$BIN/client/velkan" "$RUN/cachingpolicyengine.xml") | grep -oE '(not uploaded|uploaded) c:.*' | sed 's/^/  /' \
    | tee -a "$RUN/uploads.txt"
  # What the cache holds now, for the next dornik run.
  python3 scripts/snapshot.py action-set "$RUN/getcontents.xml" getContents 'c:\home\ann'
  config "$RUN/getcontents.xml"
  (cd "$RUN" && "$BIN/client/velkan" "$RUN/cachingpolicyengine.xml") > /dev/null
  python3 scripts/snapshot.py cache-content "$RUN/contents.xml" "$RUN/cachecontent.xml"
}

run_once "first run"
echo "== changing the tree: one file edited, one deleted, one added"
echo "version 2, longer than before" > "$HOME_DIR/Documents/changing.txt"
rm "$HOME_DIR/Documents/old-notes.txt"
echo "a new idea" > "$HOME_DIR/Documents/Projects/idea.txt"
sleep 1
run_once "second run"

END=$(date +%s.%N)
echo "== summary"
python3 - "$RUN" "$START" "$END" <<'PY'
import sys, xml.etree.ElementTree as ET
run, start, end = sys.argv[1], float(sys.argv[2]), float(sys.argv[3])
lines = open(f"{run}/uploads.txt").read().splitlines()
uploaded = [l for l in lines if l.strip().startswith("uploaded ")]
held = ET.parse(f"{run}/contents.xml").getroot().findall("file")
before = sum(int(f.get("origin-size", 0)) for f in held)
after = sum(int(f.get("size", 0)) for f in held)
deletes = sum(len(list(a)) for a in ET.parse(f"{run}/actionset.xml").getroot() if a.get("name") == "delete")
print(f"uploads over both runs: {len(uploaded)}; the cache now holds {len(held)} files")
print(f"bytes before preparation: {before}, after (as stored): {after} ({100.0 * after / max(before, 1):.1f} %)")
print(f"deletions in the second run: {deletes}")
print(f"time taken: {end - start:.1f} s")
PY
echo "status page: (cd $RUN && python3 -m http.server 8000) and open http://127.0.0.1:8000/www/index.html"
echo "logs: $RUN/logs/dornik.log, $RUN/logs/velkan.log"
