#!/usr/bin/env bash
# The policy engine alone on the sample snapshots under examples/, in all
# three modes, showing what each wrote. Runs in demo-dornik/ (a fresh copy
# of examples/).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh build
ROOT="$PWD"
RUN="$ROOT/demo-dornik"
rm -rf "$RUN" && cp -r examples "$RUN" && cd "$RUN"

show() { echo; echo "----- $1"; cat "$1"; }

echo "== dornik: action-set mode (dircontent.xml against cachecontent.xml)"
"$ROOT/build/engine/dornik" cachingpolicyengine.xml && echo "exit code 0"
show actionset.xml

echo; echo "== dornik: unpersisted-directories mode (policy lists)"
sed -e 's|<generate_action_set value="true"/>|<generate_action_set value="false"/>|' \
    -e 's|<generate_unpersisted_dirs value="false"/>|<generate_unpersisted_dirs value="true"/>|' \
    cachingpolicyengine.xml > unpersisted-dirs.xml
HOME=/home/ann "$ROOT/build/engine/dornik" unpersisted-dirs.xml && echo "exit code 0"
show unpersisteddirs.xml; show prevdirs.txt; show currentdirs.txt

echo; echo "== dornik: unpersisted-action-set mode (listings)"
sed -e 's|<generate_action_set value="true"/>|<generate_action_set value="false"/>|' \
    -e 's|<generate_unpersisted_dirs_action_set value="false"/>|<generate_unpersisted_dirs_action_set value="true"/>|' \
    cachingpolicyengine.xml > unpersisted-actionset.xml
"$ROOT/build/engine/dornik" unpersisted-actionset.xml && echo "exit code 0"
show unpersistedactionset.xml

show logs/dornik.log
