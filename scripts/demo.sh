#!/usr/bin/env bash
# Packs the sample application into an exe and starts it under Wine on a real Java runtime
# (scripts/fetch-jdk.sh), with the diagnostic log switched on, then shows how the start went.
set -euo pipefail
cd "$(dirname "$0")/.."

work=build/demo
rm -rf "$work" && mkdir -p "$work/tmp"
source scripts/demo-wine.sh

# The sample's search sequence looks for a runtime in "jre" beside the launcher.
runtime=$(bash scripts/fetch-jdk.sh | tail -n 1)
ln -sfn "$runtime" "$work/jre"

java -jar build/dist/packer.jar pack --stub build/dist/win64/app-launcher.exe \
    --config samples/hello/config.json --out "$work/hello.exe"
java -jar build/dist/packer.jar inspect "$work/hello.exe"

echo
echo "Starting hello.exe under Wine (QUILLON_LOG=yes)..."
set +e
QUILLON_LOG=yes wine "$work/hello.exe" first-argument "second argument" 2>"$work/stderr.txt"
code=$?
set -e
# Wine lacks a few calls the JVM asks about (processor groups, job objects); it says so on
# every start, which is noise here.
grep -v -e 'Server VM warning: Attempt to' -e 'FS volume label and serial' "$work/stderr.txt" >&2 || true
echo "exit code: $code"
log=$(ls "$WINEPREFIX"/drive_c/users/*/Temp/qln_nlog_* 2>/dev/null | tail -n 1 || true)
if [ -n "$log" ]; then
    echo "--- diagnostic log ($log) ---"
    cat "$log"
    rm -f "$log"
fi
