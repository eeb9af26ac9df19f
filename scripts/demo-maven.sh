#!/usr/bin/env bash
# Installs the Maven plugin from this tree into the local Maven repository, builds
# samples/hello-maven with it (mvn package makes the exe) and starts the exe under Wine on a
# real Java runtime (scripts/fetch-jdk.sh). Needs the launcher stubs (make native).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ ! -f build/dist/win64/app-launcher.exe ]; then
    echo "build/dist/win64/app-launcher.exe is missing: run make native first" >&2
    exit 1
fi
echo "Installing the plugin, the packer and the runtime library into the local repository..."
mvn -q -B -f java/pom.xml -DskipTests install
echo "Building samples/hello-maven..."
mvn -q -B -f samples/hello-maven/pom.xml package

work=build/demo-maven
rm -rf "$work" && mkdir -p "$work"
cp samples/hello-maven/target/hello-maven-1.0.0.exe "$work/"
java -jar java/packer/target/packer.jar inspect "$work/hello-maven-1.0.0.exe"

export WINEDEBUG=-all
export WINEPREFIX="$PWD/build/demo-wineprefix"
if [ ! -d "$WINEPREFIX/drive_c" ]; then
    echo "Creating the Wine prefix (once)..."
    wineboot -i >/dev/null 2>&1 || true
fi
xvfb_pid=""
if [ -z "${DISPLAY:-}" ]; then
    for n in $(seq 90 120); do
        [ -e "/tmp/.X11-unix/X$n" ] || { display=":$n"; break; }
    done
    Xvfb "$display" -screen 0 1024x768x24 >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY="$display"
    sleep 1
fi
cleanup() {
    wineserver -k 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

# The sample's search sequence looks for a runtime in "jre" beside the exe.
runtime=$(bash scripts/fetch-jdk.sh | tail -n 1)
ln -sfn "$runtime" "$work/jre"

echo
echo "Starting hello-maven-1.0.0.exe under Wine..."
set +e
wine "$work/hello-maven-1.0.0.exe" "an argument" 2>"$work/stderr.txt"
code=$?
set -e
# Wine lacks a few calls the JVM asks about; it says so on every start, which is noise here.
grep -v -e 'Server VM warning: Attempt to' -e 'FS volume label and serial' "$work/stderr.txt" >&2 || true
echo "exit code: $code"
exit $code
