#!/bin/sh
# wine_test.sh PREFIX PROGRAM [ARGS...]: runs a Windows test program under Wine
# (wine_run.sh) and passes on its output and exit code once it has ended. The
# output goes through a file: Wine's own background programs, started by
# whichever test comes first, inherit its output and would hold a pipe open
# until the last test of the run ends.
output=$(mktemp) || exit 1
"$(dirname "$0")/wine_run.sh" "$@" >"$output" 2>&1 </dev/null
code=$?
cat "$output"
rm -f "$output"
exit $code
