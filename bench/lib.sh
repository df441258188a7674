# Shared by the bench scripts, which source it from the repository's folder.

# bench_start <build folder>: builds what the benches run into it, sets bin to its bin/ folder
# and work to a temporary folder removed at exit, with the service started last stopped.
bench_start() {
    build=$(realpath "$1")
    bin=$build/bin
    cmake --build "$build" --target AutoUpdate update-service sample-client >/dev/null
    work=$(mktemp -d)
    trap 'kill "${service_pid:-}" 2>/dev/null || true; rm -rf "$work"' EXIT
}

now() { date +%s.%N; }
peak_mib() { awk -F: '/Maximum resident set size/ {gsub(/ /, "", $2); printf "%.1f", $2 / 1024}' "$1"; }

# serve_client <releases folder> <service log> <client folder>: starts update-service serve on a
# free loopback port (its process id in service_pid) and writes the client's updateconfig.json
# for it.
serve_client() {
    "$bin/update-service" serve --releases "$1" --port 0 >"$2" &
    service_pid=$!
    for _ in $(seq 50); do grep -q updateCheckUrl "$2" && break; sleep 0.1; done
    local check_url package_url
    check_url=$(sed -n 's/.*updateCheckUrl \([^,]*\),.*/\1/p' "$2")
    package_url=$(sed -n 's/.*updatePackageUrl \(.*\)$/\1/p' "$2")
    cat >"$3/AutoUpdate/updateconfig.json" <<JSON
{"appName": "QuorvexSample", "appConfigFile": "config/client.json", "appPath": "$3/",
 "updateCheckUrl": "$check_url", "updatePackageUrl": "$package_url"}
JSON
}
