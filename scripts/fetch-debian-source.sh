#!/usr/bin/env bash
# Fetches the source of a Debian package into .deps/ and prints the folder it
# unpacked to. Uses a private apt source list and state folder whose deb-src
# lines are derived from the machine's own apt sources; the system's apt
# configuration is not touched. Does nothing when the source is there.
#   fetch-debian-source.sh PACKAGE [VERSION]
set -euo pipefail
cd "$(dirname "$0")/.."
PACKAGE="$1"
VERSION="${2:-}"
DEPS="$PWD/.deps"
MARK="$DEPS/$PACKAGE.source"
if [ -f "$MARK" ] && [ -d "$DEPS/$(cat "$MARK")" ]; then
  echo "$DEPS/$(cat "$MARK")"
  exit 0
fi

APT="$DEPS/apt-$PACKAGE"
rm -rf "$APT"
mkdir -p "$APT/state/lists/partial" "$APT/cache/archives/partial"

# deb-src lines for every "deb" source of the machine (one-line and deb822 forms).
{
  for list in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$list" ] || continue
    sed -n 's/^[[:space:]]*deb[[:space:]]/deb-src /p' "$list"
  done
  for sources in /etc/apt/sources.list.d/*.sources; do
    [ -f "$sources" ] || continue
    awk '
      function flush() {
        if (types ~ /(^| )deb( |$)/ && uris != "") {
          n = split(uris, u, " "); m = split(suites, s, " ")
          for (i = 1; i <= n; i++) for (j = 1; j <= m; j++)
            printf "deb-src %s%s %s %s\n", (signed != "" ? "[signed-by=" signed "] " : ""), u[i], s[j], components
        }
        types = uris = suites = components = signed = ""
      }
      /^[[:space:]]*$/ { flush(); next }
      /^#/ { next }
      /^Types:/ { sub(/^Types:[[:space:]]*/, ""); types = $0 }
      /^URIs:/ { sub(/^URIs:[[:space:]]*/, ""); uris = $0 }
      /^Suites:/ { sub(/^Suites:[[:space:]]*/, ""); suites = $0 }
      /^Components:/ { sub(/^Components:[[:space:]]*/, ""); components = $0 }
      /^Signed-By:/ { sub(/^Signed-By:[[:space:]]*/, ""); signed = $0 }
      END { flush() }
    ' "$sources"
  done
} > "$APT/sources.list"

APT_OPTIONS=(-o "Dir::Etc::SourceList=$APT/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
             -o "Dir::State=$APT/state" -o "Dir::Cache=$APT/cache" -o "Dir::State::status=/var/lib/dpkg/status")
WORK="$DEPS/unpack-$PACKAGE"
fetch() {
  rm -rf "$WORK" "$APT/state/lists"
  mkdir -p "$WORK" "$APT/state/lists/partial"
  apt-get "${APT_OPTIONS[@]}" update -qq >&2 || echo "fetch-debian-source: some source indexes could not be read; going on" >&2
  (cd "$WORK" && apt-get "${APT_OPTIONS[@]}" source -qq "$PACKAGE${VERSION:+=$VERSION}" >&2)
}
echo "fetch-debian-source: fetching $PACKAGE ${VERSION:-(newest)} source" >&2
# Some mirrors list security updates whose sources they do not carry: then
# the release's own version is taken.
if ! fetch; then
  echo "fetch-debian-source: retrying $PACKAGE without the security sources" >&2
  sed -i '/security/d' "$APT/sources.list"
  fetch
fi
FOLDER="$(find "$WORK" -mindepth 1 -maxdepth 1 -type d | head -n 1)"
[ -n "$FOLDER" ] || { echo "fetch-debian-source: nothing unpacked for $PACKAGE" >&2; exit 1; }
NAME="$(basename "$FOLDER")"
rm -rf "${DEPS:?}/$NAME"
mv "$FOLDER" "$DEPS/$NAME"
rm -rf "$APT" "$WORK"
echo "$NAME" > "$MARK"
echo "$DEPS/$NAME"
