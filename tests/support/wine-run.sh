#!/usr/bin/env bash
# Runs a Windows test program under Wine for CTest. Usage: wine-run.sh program.exe [argument...]
# The output goes through a file: a Wine helper that the program leaves running (a console host,
# a service) inherits the file instead of CTest's pipe, which CTest would wait on until the
# helper ends.
set -uo pipefail
output=$(mktemp)
trap 'rm -f "$output"' EXIT
wine "$@" >"$output" 2>&1
status=$?
cat "$output"
exit $status
