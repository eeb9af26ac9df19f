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

source scripts/demo-wine.sh

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
