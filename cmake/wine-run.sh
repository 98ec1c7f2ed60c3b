#!/usr/bin/env bash
# Runs a cross-built program under wine. Now and then (mostly on a fresh
# prefix) wine ends with exit 1 before the program runs at all: nothing on
# standard output, where every test program prints its first line at once.
# Such a start is tried again, a few times. A program that printed anything
# ran, and is never repeated: its exit status is the answer.
set -o pipefail
seen=$(mktemp) || exit 1
trap 'rm -f "$seen"' EXIT
for try in 1 2 3 4; do
  status=0
  wine "$@" | tee "$seen" || status=$?
  if [ "$status" -eq 0 ] || [ -s "$seen" ] || [ "$try" -eq 4 ]; then
    exit "$status"
  fi
  echo "wine-run: $1 ended with exit $status before it printed anything; starting it again" >&2
  sleep 3
done
