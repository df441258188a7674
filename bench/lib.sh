# Shared by the bench scripts, which source it with $bin set to the build's bin/ folder.

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
