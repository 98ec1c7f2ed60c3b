#!/usr/bin/env bash
# Fetches the source of Debian's gsoap package (the same version as the
# installed soapcpp2) into .deps/, so that its runtime can be compiled with
# our settings. Uses a private apt source list and state folder whose
# deb-src lines are derived from the machine's own apt sources; the system's
# apt configuration is not touched. Does nothing when the source is there.
set -euo pipefail
cd "$(dirname "$0")/.."
DEPS="$PWD/.deps"
VERSION="$(dpkg-query -W -f='${Version}' gsoap)"
UPSTREAM="${VERSION%-*}"
TARGET="$DEPS/gsoap-$UPSTREAM"
if [ -f "$TARGET/gsoap/stdsoap2.cpp" ]; then
  echo "fetch-gsoap-source: $TARGET is there"
  exit 0
fi

APT="$DEPS/apt"
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
echo "fetch-gsoap-source: fetching gsoap $VERSION source"
apt-get "${APT_OPTIONS[@]}" update -qq || echo "fetch-gsoap-source: some source indexes could not be read; going on"
(cd "$DEPS" && apt-get "${APT_OPTIONS[@]}" source -qq "gsoap=$VERSION")
[ -f "$TARGET/gsoap/stdsoap2.cpp" ] || { echo "fetch-gsoap-source: $TARGET/gsoap/stdsoap2.cpp missing after fetch" >&2; exit 1; }
rm -rf "$APT" "$DEPS"/gsoap_*
echo "fetch-gsoap-source: gsoap runtime source in $TARGET"
