#!/usr/bin/env bash
# Packs the sample service, then installs, starts, queries, stops and uninstalls it under
# Wine's service control manager on a real Java runtime (scripts/fetch-jdk.sh). The sample's
# first run crashes and is restarted; it ignores the stop, which the stop time-out ends. At
# the end it shows the service's own log and what the application wrote.
set -euo pipefail
cd "$(dirname "$0")/.."

work=build/demo-service
rm -rf "$work" build/samples/hello-service && mkdir -p "$work" build/samples/hello-service/classes
javac --release 8 -Xlint:-options -encoding UTF-8 -cp build/dist/runtime.jar \
    -d build/samples/hello-service/classes $(find samples/hello-service/src -name '*.java')
jar cf build/samples/hello-service/hello-service.jar -C build/samples/hello-service/classes .

DEMO_PREFIX=demo-service-wineprefix
source scripts/demo-wine.sh
exe="$work/hello-service.exe"
cleanup() {
    wine "$exe" /uninstall >/dev/null 2>&1 || true
    stop_wine
}
trap cleanup EXIT

# Wine ends its service manager and the services with the last ordinary process; this one
# keeps them up between the commands and while a restart is waited for.
wine cmd.exe /c "ping -n 3600 127.0.0.1 >nul" >/dev/null 2>&1 &

runtime=$(bash scripts/fetch-jdk.sh | tail -n 1)
ln -sfn "$runtime" "$work/jre"
java -jar build/dist/packer.jar pack --stub build/dist/win64/service-launcher.exe \
    --config samples/hello-service/config.json --out "$exe"

step() {
    echo
    echo "> hello-service.exe $1"
    set +e
    wine "$exe" "$1" | tr -d '\r'
    echo "  (exit code ${PIPESTATUS[0]})"
    set -e
}
service_log="$work/logs/HelloService.service.log"
wait_for_line() {
    for _ in $(seq 1 240); do
        [ "$(grep -c "$1" "$service_log" 2>/dev/null || true)" -ge "$2" ] && return 0
        sleep 0.5
    done
    echo "  (not seen within 2 minutes: $1)"
}
step /install
step /start
echo "  waiting for the first run to crash and the restart..."
wait_for_line "child started" 2
sleep 3
step /status
echo "  the application ignores the stop line: the 5 s stop time-out ends it"
started=$(date +%s)
step /stop
echo "  (the stop took $(( $(date +%s) - started )) s)"
step /status
step /uninstall
echo
echo "--- the service's log ($service_log) ---"
tr -d '\r' < "$service_log"
echo "--- what the application wrote ($work/hello-service.log) ---"
cat "$work/hello-service.log" 2>/dev/null || echo "(nothing)"
