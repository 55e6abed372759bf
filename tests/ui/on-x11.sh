#!/usr/bin/env bash
# Runs the window tests given as arguments on the X server of xvfb-run, under
# a window manager as a user's desktop has one, so that windows are framed and
# mapped in the window manager's own time.
set -u
openbox --sm-disable >/dev/null 2>&1 &
manager=$!
sleep 0.5
"$@"
status=$?
kill "$manager" 2>/dev/null
exit "$status"
