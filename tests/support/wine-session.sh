#!/usr/bin/env bash
# The Wine session of the tests in the prefix that WINEPREFIX names.
# Usage: wine-session.sh start|stop
#   start  makes the prefix when it is missing, then starts its server and services for the
#          whole run. They run apart from the caller's output (a Wine server or service that a
#          test started would keep that test's output pipe open until it ends); what they print
#          goes to <prefix>.log.
#   stop   ends the server and every program of the prefix.
set -euo pipefail
log="$WINEPREFIX.log"

# The prefix, made with its own short-lived Wine session.
make_prefix() {
    wine wineboot -i
    # Temporary folders outside the user's profile but on its drive, like C:\Program Files:
    # an installation folder made there is one the updater copies to with elevation.
    mkdir -p "$WINEPREFIX/drive_c/temp"
    for variable in TEMP TMP; do
        wine reg add 'HKCU\Environment' /v "$variable" /d 'C:\temp' /f
    done
    wineserver -w
}

start() {
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        make_prefix
    fi
    # Drive D: with less free space than C:, for a working folder on a drive without room. Wine
    # takes in its drives as its services start.
    if [ -d /dev/shm ]; then
        ln -sfn /dev/shm "$WINEPREFIX/dosdevices/d:"
    fi
    # A server already running for the prefix (exit code 2) serves as well.
    wineserver -p || [ $? -eq 2 ]
    wine wineboot
}

case "${1:-}" in
start)
    # Run as a job of its own, where a failing step still ends it (errexit does not apply to a
    # function called as the left side of ||).
    start >"$log" 2>&1 &
    wait $! || { cat "$log" >&2; exit 1; }
    ;;
stop)
    wineserver -k 2>/dev/null || true
    ;;
*)
    echo "usage: wine-session.sh start|stop" >&2
    exit 2
    ;;
esac
