#!/usr/bin/env bash
# Builds setup.exe from the installer stub with a real Windows Java runtime bundled as
# "jre.tar.gz" (scripts/fetch-jdk.sh) and a small Swing installer (samples/installer), runs it
# under Wine with its progress dialog, and prints the main lines of the diagnostic log.
set -euo pipefail
cd "$(dirname "$0")/.."

work=build/demo-installer
rm -rf "$work/classes" && mkdir -p "$work/classes"
source scripts/demo-wine.sh

# The runtime archive is made once per runtime and kept (the tests share the cache).
runtime=$(bash scripts/fetch-jdk.sh | tail -n 1)
archive="build/installer-tests/jre-$(basename "$runtime").tar.gz"
if [ ! -f "$archive" ]; then
    echo "Packing $runtime as jre.tar.gz (once)..."
    mkdir -p "$(dirname "$archive")"
    tar --format=gnu -czf "$archive.part" -C "$runtime" .
    mv "$archive.part" "$archive"
fi
cp "$archive" "$work/jre.tar.gz"

javac --release 8 -Xlint:-options -encoding UTF-8 -d "$work/classes" \
    $(find samples/installer/src -name '*.java')
jar cf "$work/setup.jar" -C "$work/classes" .

java -jar build/dist/packer.jar pack --stub build/dist/win64/setup-launcher.exe \
    --config samples/installer/config.json --out "$work/setup.exe"
java -jar build/dist/packer.jar inspect "$work/setup.exe" | grep -E 'check flag|checksum|jre.tar.gz' || true

echo
echo "Starting setup.exe under Wine (TARVO_LOG=yes)..."
temp_dir="$WINEPREFIX/drive_c/users/$(whoami)/Temp"
rm -f "$temp_dir"/qln_nlog_* 2>/dev/null || true
set +e
TARVO_LOG=yes wine "$work/setup.exe" 2>"$work/stderr.txt"
code=$?
set -e
grep -v -e 'Server VM warning: Attempt to' -e 'FS volume label and serial' "$work/stderr.txt" >&2 || true
echo "exit code: $code"
log=$(ls "$WINEPREFIX"/drive_c/users/*/Temp/qln_nlog_* 2>/dev/null | tail -n 1 || true)
if [ -n "$log" ]; then
    echo "--- main lines of the diagnostic log ($log) ---"
    grep -a -E 'Init done|Starting work|verifying integrity|checksums|JRE included|extracting JRE|untaring|JRE dir|Java window visible|Canceled|ERROR' "$log" | tr -d '\r'
    rm -f "$log"
fi
# Leftover launcher temp directories of earlier runs would only fill the prefix.
rm -rf "$temp_dir"/*_dir* 2>/dev/null || true
exit "$code"
