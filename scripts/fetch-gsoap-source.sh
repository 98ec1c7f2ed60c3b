#!/usr/bin/env bash
# Fetches the source of Debian's gsoap package (the same version as the
# installed soapcpp2) into .deps/, so that its runtime can be compiled with
# our settings. Does nothing when the source is there.
set -euo pipefail
cd "$(dirname "$0")/.."
VERSION="$(dpkg-query -W -f='${Version}' gsoap)"
UPSTREAM="${VERSION%-*}"
TARGET="$PWD/.deps/gsoap-$UPSTREAM"
if [ -f "$TARGET/gsoap/stdsoap2.cpp" ]; then
  echo "fetch-gsoap-source: $TARGET is there"
  exit 0
fi
FOLDER="$(scripts/fetch-debian-source.sh gsoap "$VERSION")"
[ -f "$FOLDER/gsoap/stdsoap2.cpp" ] || { echo "fetch-gsoap-source: $FOLDER/gsoap/stdsoap2.cpp missing after fetch" >&2; exit 1; }
echo "fetch-gsoap-source: gsoap runtime source in $FOLDER"
