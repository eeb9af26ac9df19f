#!/usr/bin/env bash
# Installs what building and testing need on a fresh Debian machine. Safe to run again.
set -euo pipefail

packages=(
    cmake ninja-build g++ googletest libgtest-dev
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix libz-mingw-w64-dev
    wine wine64 xvfb xauth locales
    e2fsprogs  # chattr: a folder that even root cannot write to, for the start-up cache tests
    maven openjdk-17-jdk-headless python3-pytest
    osslsigncode python3-pip
    clang libclang-rt-14-dev
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
# pytest may come from pip instead of Debian; either is fine.
if python3 -c 'import pytest' 2>/dev/null; then
    missing=("${missing[@]/python3-pytest}")
fi
missing=($(printf '%s\n' "${missing[@]}" | grep -v '^$' || true))
if [ ${#missing[@]} -gt 0 ]; then
    sudo_cmd=""
    [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
    $sudo_cmd apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# pefile reads the packed launchers independently of the packer in the packer's Wine tests.
if ! python3 -c 'import pefile' 2>/dev/null; then
    python3 -m pip install -q pefile 2>/dev/null || python3 -m pip install -q --break-system-packages pefile
fi

# Wine takes its Windows locale from LC_ALL; each locale a test uses must exist.
needed_locales=(en_US.UTF-8 de_AT.UTF-8 de_DE.UTF-8 en_IN.UTF-8 fr_FR.UTF-8)
have=$(locale -a 2>/dev/null | tr '[:upper:]' '[:lower:]' | sed 's/utf8/utf-8/')
gen=0
for l in "${needed_locales[@]}"; do
    lower=$(echo "$l" | tr '[:upper:]' '[:lower:]')
    if ! grep -qx "$lower" <<<"$have"; then
        grep -q "^$l UTF-8" /etc/locale.gen 2>/dev/null || echo "$l UTF-8" >> /etc/locale.gen
        sed -i "s/^# *$l UTF-8/$l UTF-8/" /etc/locale.gen
        gen=1
    fi
done
if [ $gen -eq 1 ]; then
    locale-gen >/dev/null
fi
