#!/usr/bin/env bash
# Packs the sample service, then installs, starts, queries, stops and uninstalls it under
# Wine's service control manager on a real Java runtime (scripts/fetch-jdk.sh), and shows what
# the service wrote.
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
step /install
step /start
echo "  waiting 5 s for the Java application..."
sleep 5
step /status
step /stop
step /status
step /uninstall
echo
echo "--- what the service wrote ($work/hello-service.log) ---"
cat "$work/hello-service.log" 2>/dev/null || echo "(nothing)"
