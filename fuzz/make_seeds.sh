#!/usr/bin/env bash
# Rebuilds the seed corpora under fuzz/corpus: text seeds from examples/ and
# small hand-written documents, binary seeds (pictures, recorded requests)
# from the seed maker of the normal build (scripts/build.sh first).
set -euo pipefail
cd "$(dirname "$0")/.."
CORPUS=fuzz/corpus
MAKER=${1:-build/fuzz/fuzz_seed_maker}
rm -rf "$CORPUS"
for target in fuzz_xml fuzz_snapshot fuzz_action_set fuzz_policy_list fuzz_ghost_content fuzz_configurator \
              fuzz_image fuzz_service_request; do
  mkdir -p "$CORPUS/$target"
done

# Path expression, line feed, document.
n=0
for f in examples/*.xml examples/*/*.xml; do
  for expression in "/CachingPolicyEngineConfiguration/cacheManagerClient@server" "/policies/policy/settings/target" \
                    "/properties/entry@key" "@"; do
    n=$((n + 1))
    { printf '%s\n' "$expression"; cat "$f"; } > "$CORPUS/fuzz_xml/seed-$n.xml"
  done
done

# Directory snapshot, NUL, cache snapshot.
{ cat examples/dircontent.xml; printf '\0'; cat examples/cachecontent.xml; } > "$CORPUS/fuzz_snapshot/examples.xml"
{ cat examples/cachecontent.xml; printf '\0'; cat examples/dircontent.xml; } > "$CORPUS/fuzz_snapshot/swapped.xml"

cat > "$CORPUS/fuzz_action_set/every-action.xml" <<'XML'
<action-set>
<action name="delete"><directory path="c:\old"/><file path="c:\old\a.txt"/></action>
<action name="create"><file path="c:\docs\a.doc"><offset value="4096"/><mimeType name="application/msword"/></file><file path="c:\docs\b.txt"/></action>
<action name="getContents"><folder path="c:\docs"/></action>
<action name="getPolicies"/><action name="setSymLinks"/><action name="writeGhostContent"/><action name="deletePolicies"/>
</action-set>
XML
printf '<action-set><action name="getPolicies"/><action name="getContents"/></action-set>' \
  > "$CORPUS/fuzz_action_set/missing-child.xml"

cp examples/policies/*.xml "$CORPUS/fuzz_policy_list/"

cat > "$CORPUS/fuzz_ghost_content/groups.xml" <<'XML'
<ghosts>
<g><directory path="C:\Docs\Sub\"/><file path="C:\Docs\Sub\a.txt"><size>12</size><modified>1700000000</modified></file></g>
<g><file path="d:\"/></g>
<g/>
</ghosts>
XML

for key in config.proxy.http.host config.proxy.http.userpassword missing; do
  { printf '%s\n' "$key"; cat examples/agent.xml; } > "$CORPUS/fuzz_configurator/$key.xml"
done

"$MAKER" "$CORPUS"
echo "seeds written to $CORPUS"
