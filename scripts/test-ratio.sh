#!/usr/bin/env bash
# Prints how much test code there is against program code, in non-blank lines of C++.
set -euo pipefail
cd "$(dirname "$0")/.."

count_lines() {
    find "$@" -type f \( -name '*.cpp' -o -name '*.h' \) -print0 | xargs -0 cat | grep -cv '^\s*$'
}

tests=$(count_lines tests)
code=$(count_lines AutoUpdate tools)
echo "Test code: ${tests} non-blank lines of C++ under tests/ against ${code} under AutoUpdate/ and" \
    "tools/ ($(( tests * 100 / code )) %)"
