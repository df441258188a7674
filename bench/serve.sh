#!/usr/bin/env bash
# Check requests under load, answered by "update-service serve" and by nginx with the release's
# own site/nginx.conf, on the same small release in one run: ab posts the updater's check body
# from many concurrent clients to each, and the requests per second, failed requests and the
# longest request are printed side by side.
# Usage: bench/serve.sh [build-folder] [requests] [concurrent-clients]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
requests=${2:-20000}
clients=${3:-100}
bash scripts/setup.sh apache2-utils >/dev/null
cmake --build "$build" --target update-service >/dev/null

source scripts/release-servers.sh
work=$(mktemp -d)
trap 'stop_service; rm -rf "$work"' EXIT

release_build=$work/build-2.1.0
mkdir -p "$release_build/config"
printf '{"client":{"version":"2.1.0"}}\n' >"$release_build/config/client.json"
echo "QUORVEX sample client 2.1.0" >"$release_build/README.txt"
"$build/bin/update-service" publish --build "$release_build" --version 2.1.0 --name QuorvexSample \
    --notes-zh "基准" --notes-en "Benchmark" --out "$work/releases" >/dev/null
printf '{"clientVersion":"2.0.0","deviceType":"Windows","platform":6}' >"$work/body.json"

# load <name>: runs ab against check_url and prints one line of figures. Non-2xx answers are
# counted apart by ab; a run ab gives up on prints its last words instead.
load() {
    local name=$1 report=$work/$1.ab
    if ! ab -n "$requests" -c "$clients" -p "$work/body.json" -T 'application/json;charset=UTF-8' \
        "$check_url" >"$report" 2>&1; then
        printf '%-15s ab stopped: %s\n' "$name" "$(tail -1 "$report")"
        return
    fi
    printf '%-15s %12s %8s %8s %9s ms\n' "$name" \
        "$(awk '/^Requests per second:/ {print $4}' "$report")" \
        "$(awk '/^Failed requests:/ {print $3}' "$report")" \
        "$(awk '/^Non-2xx responses:/ {n = $3} END {print n + 0}' "$report")" \
        "$(awk '/\(longest request\)/ {print $2}' "$report")"
}

echo "$requests check requests from $clients concurrent clients"
printf '%-15s %12s %8s %8s %12s\n' server requests/s failed non-2xx longest
start_update_service "$build/bin/update-service" "$work/releases" "$work/service.log"
[ -n "$check_url" ] || { echo "serve.sh: update-service did not start" >&2; exit 1; }
load update-service
stop_service

start_nginx "$work/releases/2.1.0/site"
[ -n "$check_url" ] || { echo "serve.sh: nginx did not start" >&2; exit 1; }
load nginx
