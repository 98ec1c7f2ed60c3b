#!/usr/bin/env bash
# Preparation speed against standard tools, each run as a whole process:
# gzip of a 1 GiB file against `gzip -6`, and picture transcoding to the
# default bounds (768 x 1024) against vipsthumbnail. Installs libvips-tools
# for the comparison only (the product never uses it).
# Usage: bench/run_prepare_bench.sh [build-folder] [gzip-size-MiB] [gzip]
#   (a third argument "gzip" measures the gzip copy alone)
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="$(cd "${1:-build}" && pwd)"
SIZE_MIB="${2:-1024}"
ONLY="${3:-}"
TOOL="$BUILD/bench/prepare_tool"
if [ "${3:-}" != gzip ] && ! command -v vipsthumbnail >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq --no-install-recommends libvips-tools >/dev/null
fi
WORK="$(mktemp -d /tmp/zr-prepare-bench.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT

LAST=""
measure() {  # label, command...; LAST gets the best time
  local label="$1"; shift
  local best="" rss=""
  for run in 1 2 3; do
    /usr/bin/time -f "%e %M" -o "$WORK/time" "$@" >/dev/null
    read -r seconds kilobytes < "$WORK/time"
    if [ -z "$best" ] || awk "BEGIN{exit !($seconds < $best)}"; then best=$seconds; rss=$kilobytes; fi
  done
  LAST=$best
  printf "%-34s %8s s %8d MB\n" "$label" "$best" $((rss / 1024))
}

ratio() {  # label, ours, theirs
  awk -v l="$1" -v a="$2" -v b="$3" 'BEGIN { printf "%-34s %8.2f x (below 1: ours is faster)\n", l, (b > 0 ? a / b : 0) }'
}

# A picture against vipsthumbnail: time, memory, the ratio and both sizes.
picture() {  # label, source, our output, vips output
  measure "ours: $1" "$TOOL" transcode "$2" "$WORK/$3"
  local ours=$LAST
  measure "vipsthumbnail: $1" vipsthumbnail "$2" -s 768x1024 -o "$WORK/$4"
  ratio "  ours / vipsthumbnail" "$ours" "$LAST"
  printf "  %-32s ours %s, vipsthumbnail %s\n" "output" \
    "$(file -b "$WORK/$3" | cut -d, -f1-2)" "$(file -b "$WORK/$4" | cut -d, -f1-2)"
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
ours_time=$LAST
measure "gzip -6, ${SIZE_MIB} MiB" sh -c "gzip -6 -c '$WORK/big.txt' > '$WORK/theirs.gz'"
ratio "  ours / gzip -6" "$ours_time" "$LAST"
ours=$(stat -c %s "$WORK/ours.gz"); theirs=$(stat -c %s "$WORK/theirs.gz")
echo "gzip output: ours $ours bytes, gzip -6 $theirs bytes ($(awk "BEGIN{printf \"%+.2f\", 100*($ours-$theirs)/$theirs}") %)"
cmp <(gzip -dc "$WORK/ours.gz") "$WORK/big.txt" && echo "our copy decompresses to the original (gzip -d)"
python3 - "$WORK/ours.gz" "$WORK/big.txt" <<'PY'
import sys, zlib
data, original = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
reader = zlib.decompressobj(31)  # one gzip member, as single-member readers take it
whole = reader.decompress(data) + reader.flush()
print("one gzip member holds the whole file:", whole == original and reader.eof and not reader.unused_data)
PY
[ "$ONLY" = gzip ] && exit 0

"$TOOL" make-jpeg 6000 4000 "$WORK/photo24.jpg"
"$TOOL" make-png 4000 3000 "$WORK/photo12.png"
"$TOOL" make-png 6000 4000 "$WORK/photo24.png"
# The other sources the transcoder reads, converted from the 12 MP picture.
vips copy "$WORK/photo12.png" "$WORK/photo12.tif"
vips gifsave "$WORK/photo12.png" "$WORK/photo12.gif"
vips magicksave "$WORK/photo12.png" "$WORK/photo12.bmp" 2>/dev/null || true
picture "24 MP JPEG -> 768x512" "$WORK/photo24.jpg" ours.jpg vips.jpg
picture "12 MP PNG -> 768x576" "$WORK/photo12.png" ours12.png vips12.png
picture "24 MP PNG -> 768x512" "$WORK/photo24.png" ours24.png vips24.png
picture "12 MP GIF -> 768x576" "$WORK/photo12.gif" oursgif.png vipsgif.png
picture "12 MP TIFF -> 768x576" "$WORK/photo12.tif" ourstif.png vipstif.png
if [ -s "$WORK/photo12.bmp" ]; then
  picture "12 MP BMP -> 768x576" "$WORK/photo12.bmp" oursbmp.png vipsbmp.png
else
  echo "12 MP BMP: skipped (this vips cannot write BMP)"
fi
