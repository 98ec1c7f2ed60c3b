#!/bin/sh
# Runs a cross-built program under wine. Listing a test program's tests at
# build time now and then fails on a fresh wine prefix with exit 1 and no
# output at all (the program never ran); the listing is asked again, a few
# times, before the build gives up. Anything else runs once, as it is.
case " $* " in
  *" --gtest_list_tests"*)
    tries=0
    while :; do
      if listing=$(wine "$@"); then
        printf '%s\n' "$listing"
        exit 0
      else
        status=$?
      fi
      tries=$((tries + 1))
      if [ "$tries" -ge 4 ] || [ -n "$listing" ]; then
        printf '%s\n' "$listing"
        exit "$status"
      fi
      echo "wine-run: listing the tests of $1 failed silently (exit $status); asking again" >&2
      sleep 3
    done
    ;;
esac
exec wine "$@"
