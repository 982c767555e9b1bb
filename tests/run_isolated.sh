#!/bin/sh
# Runs a test in a process and network namespace of its own where the system
# allows it (root, or unprivileged namespaces). The updater's single-instance
# guard is an abstract socket, visible across the network namespace, and
# taskkill ends processes by name across the process namespace: without this a
# run of the same tests elsewhere on the machine (another checkout, another
# build) takes the guard from under a worker or has its processes killed.
# Everything the test started ends with it. Without namespaces the test runs
# as it is.
set -e
isolate="unshare --net --pid --fork --kill-child --mount-proc"
if $isolate true >/dev/null 2>&1; then
    exec $isolate "$@"
fi
exec "$@"
