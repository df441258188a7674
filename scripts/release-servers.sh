# shellcheck shell=bash disable=SC2034
# Serves a published release on loopback, for the scripts that source this file:
#   start_update_service <update-service program> <releases folder> <log file>
#   start_nginx <a release's site folder>        (its nginx.conf is edited to the port used)
#   stop_service
# Each start sets service_pid, check_url and package_url (read by those scripts) and returns once
# the server answers; check_url stays empty when it did not start.

service_pid=
check_url=
package_url=

free_port() { python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'; }

start_update_service() {
    local program=$1 releases=$2 log=$3
    "$program" serve --releases "$releases" --port 0 >"$log" 2>&1 &
    service_pid=$!
    for _ in $(seq 50); do grep -q 'updateCheckUrl' "$log" && break; sleep 0.1; done
    check_url=$(sed -n 's/.*updateCheckUrl \([^,]*\),.*/\1/p' "$log")
    package_url=$(sed -n 's/.*updatePackageUrl \(.*\)$/\1/p' "$log")
}

start_nginx() {
    local site=$1 port
    port=$(free_port)
    sed -i "s/listen [0-9.:]*;/listen 127.0.0.1:$port;/" "$site/nginx.conf"
    # nginx takes one -g; as root its workers would otherwise run as a user that cannot read here.
    local directives="daemon off;"
    [ "$(id -u)" -eq 0 ] && directives="$directives user root;"
    nginx -p "$site" -c nginx.conf -e logs/error.log -g "$directives" &
    service_pid=$!
    for _ in $(seq 50); do
        if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
            check_url=http://127.0.0.1:$port/check
            package_url=http://127.0.0.1:$port/pack/
            return
        fi
        sleep 0.1
    done
}

stop_service() {
    if [ -n "$service_pid" ]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    service_pid=
}
