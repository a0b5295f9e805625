#!/bin/sh
# Runs one Windows test binary under Wine for ctest. The output goes through a file: Wine's
# server and services, started by whichever test comes first, inherit the first test's output,
# and through a pipe ctest would count that test running until the last Wine process ended.
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
wine "$@" >"$out" 2>&1
rc=$?
cat "$out"
exit $rc
