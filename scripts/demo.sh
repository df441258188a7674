#!/usr/bin/env bash
# The updater's whole road on a fresh machine: installs what is missing, builds, publishes a
# release 2.1.0 of a sample client, installs its version 2.0.0 in a demo folder, serves the
# release on loopback and runs the updater against it. On a desktop (DISPLAY set) the prompt
# appears and you click through; without one it runs with "-immediately", offscreen.
#
# Usage: scripts/demo.sh [--build-dir DIR] [--demo-dir DIR] [--server update-service|nginx]
#                        [--no-build]
set -euo pipefail
cd "$(dirname "$0")/.."
repo=$PWD
build=$repo/build
demo=$repo/demo-run
server=update-service
build_first=yes

while [ $# -gt 0 ]; do
    case $1 in
    --build-dir) build=$(realpath -m "$2"); shift 2 ;;
    --demo-dir) demo=$(realpath -m "$2"); shift 2 ;;
    --server) server=$2; shift 2 ;;
    --no-build) build_first=no; shift ;;
    *) echo "demo: unknown option $1" >&2; exit 2 ;;
    esac
done
case $server in update-service | nginx) ;; *) echo "demo: --server is update-service or nginx" >&2; exit 2 ;; esac

step() { printf '\n== %s\n' "$*"; }

if [ $build_first = yes ]; then
    step "Setting up and building"
    bash scripts/setup.sh
    bash scripts/configure.sh "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$build" --parallel "$(nproc)" --target AutoUpdate update-service sample-client
fi
bin=$build/bin

rm -rf "$demo"
home=$demo/home
client=$home/Apps/Quorvex
mkdir -p "$demo/tmp" "$home/AppData/Roaming/quorvexAssistant" "$client/AutoUpdate" "$client/config"

write_client_config() { printf '{\n    "client": {\n        "version": "%s"\n    }\n}\n' "$2" >"$1"; }

step "Publishing release 2.1.0 of the sample client"
release_build=$demo/build-2.1.0
mkdir -p "$release_build/config"
cp "$bin/QuorvexSample" "$release_build/"
write_client_config "$release_build/config/client.json" 2.1.0
echo "QUORVEX sample client 2.1.0" >"$release_build/README.txt"
"$bin/update-service" publish --build "$release_build" --version 2.1.0 --name QuorvexSample \
    --notes-zh "会议链接打开得更快了。" --notes-en "Meeting links open faster." \
    --out "$demo/releases"

step "Installing version 2.0.0 in $client"
cp "$bin/QuorvexSample" "$client/"
write_client_config "$client/config/client.json" 2.0.0
cp "$bin/AutoUpdate" "$client/AutoUpdate/"
echo en >"$home/AppData/Roaming/quorvexAssistant/language.txt"

source scripts/release-servers.sh
trap stop_service EXIT

step "Serving the release with $server"
if [ $server = update-service ]; then
    start_update_service "$bin/update-service" "$demo/releases" "$demo/service.log"
else
    start_nginx "$demo/releases/2.1.0/site"
fi
[ -n "$check_url" ] || { echo "demo: the service did not start" >&2; cat "$demo/service.log" >&2; exit 1; }
echo "check: $check_url  packages: $package_url"

cat >"$client/AutoUpdate/updateconfig.json" <<JSON
{
    "appName": "QuorvexSample",
    "appConfigFile": "config/client.json",
    "appPath": "$client/",
    "updateCheckUrl": "$check_url",
    "updatePackageUrl": "$package_url"
}
JSON

arguments=(pord-meeting://demo/room-1)
if [ -n "${DISPLAY:-}" ]; then
    step "Running the updater: answer its prompt"
else
    step "Running the updater offscreen, with -immediately"
    arguments=(-immediately "${arguments[@]}")
    export QT_QPA_PLATFORM=offscreen
fi
echo "AutoUpdate ${arguments[*]}"
status=0
HOME=$home TMPDIR=$demo/tmp "$client/AutoUpdate/AutoUpdate" "${arguments[@]}" 2>"$demo/updater.stderr" || status=$?
for _ in $(seq 50); do [ -s "$client/sample-client.log" ] && break; sleep 0.1; done
stop_service

version_of() { sed -n 's/.*"version": *"\([^"]*\)".*/\1/p' "$1"; }
after=$(version_of "$client/config/client.json")
started_with=$(sed -n 's/.*started with \[\(.*\)\]/\1/p' "$client/sample-client.log" 2>/dev/null | tail -1)
log=$home/AppData/Roaming/AutoUpdate/AutoUpdate.log
step "What happened"
echo "updater exit code:    $status"
echo "version before:       2.0.0"
echo "version after:        $after"
echo "client started with:  $started_with"
echo "log file:             $log"
echo
tail -n 12 "$log"
[ "$after" = 2.1.0 ] && [ -n "$started_with" ] || { echo "demo: the client was not updated" >&2; exit 1; }
