#!/usr/bin/env bash
# Preparation speed against standard tools, each run as a whole process:
# gzip of a 1 GiB file against `gzip -6`, and picture transcoding to the
# default bounds (768 x 1024) against vipsthumbnail. Installs libvips-tools
# for the comparison only (the product never uses it).
# Usage: bench/run_prepare_bench.sh [build-folder] [gzip-size-MiB]
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${1:-build}"
SIZE_MIB="${2:-1024}"
TOOL="$PWD/$BUILD/bench/prepare_tool"
if ! command -v vipsthumbnail >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq --no-install-recommends libvips-tools >/dev/null
fi
WORK="$(mktemp -d /tmp/zr-prepare-bench.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

measure() {  # label, command...
  local label="$1"; shift
  local best="" rss=""
  for run in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" >/dev/null
    read -r seconds kilobytes < "$WORK/time"
    if [ -z "$best" ] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; rss=$kilobytes; fi
  done
  printf "%-34s %8s s %8d MB\n" "$label" "$best" $((rss / 1024))
}

# Text-like content that compresses as documents do: real text (C headers
# and licences), repeated.
{ find /usr/include /usr/share/common-licenses -type f \( -name '*.h' -o -path '*common-licenses*' \) -print0 \
    | xargs -0 cat 2>/dev/null || true; } | head -c $((64 << 20)) > "$WORK/corpus" || true
: > "$WORK/big.txt"
while [ "$(stat -c %s "$WORK/big.txt")" -lt $((SIZE_MIB << 20)) ]; do cat "$WORK/corpus" >> "$WORK/big.txt"; done
truncate -s $((SIZE_MIB << 20)) "$WORK/big.txt"

printf "%-34s %10s %11s\n" "run" "best of 3" "peak RSS"
measure "our gzip copy, ${SIZE_MIB} MiB" "$TOOL" gzip "$WORK/big.txt" "$WORK/ours.gz"
measure "gzip -6, ${SIZE_MIB} MiB" sh -c "gzip -6 -c '$WORK/big.txt' > '$WORK/theirs.gz'"
ours=$(stat -c %s "$WORK/ours.gz"); theirs=$(stat -c %s "$WORK/theirs.gz")
echo "gzip output: ours $ours bytes, gzip -6 $theirs bytes ($(awk "BEGIN{printf \"%.2f\", 100*($ours-$theirs)/$theirs}") %)"
cmp <(gzip -dc "$WORK/ours.gz") "$WORK/big.txt" && echo "our copy decompresses to the original"

"$TOOL" make-jpeg 6000 4000 "$WORK/photo24.jpg"
"$TOOL" make-png 4000 3000 "$WORK/photo12.png"
measure "ours: 24 MP JPEG -> 768x512" "$TOOL" transcode "$WORK/photo24.jpg" "$WORK/ours.jpg"
measure "vipsthumbnail: 24 MP JPEG" vipsthumbnail "$WORK/photo24.jpg" -s 768x1024 -o "$WORK/vips.jpg[Q=80]"
measure "ours: 12 MP PNG -> 768x576" "$TOOL" transcode "$WORK/photo12.png" "$WORK/ours.png"
measure "vipsthumbnail: 12 MP PNG" vipsthumbnail "$WORK/photo12.png" -s 768x1024 -o "$WORK/vips.png"
for f in ours.jpg vips.jpg ours.png vips.png; do
  printf "%-10s %s\n" "$f" "$(file -b "$WORK/$f" 2>/dev/null | cut -c1-60 || true)"
done
