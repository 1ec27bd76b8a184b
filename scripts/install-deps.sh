#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine, when any of it is missing.
set -euo pipefail
packages=(
    cmake ninja-build make g++ binutils pkg-config
    openjdk-17-jdk-headless junit5
    libssl-dev nettle-dev libgtest-dev libbenchmark-dev
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    googletest wine64 gnuplot-nox valgrind
    clang clang-14 libclang-rt-14-dev  # the fuzz tree: clang, libFuzzer, the sanitizers
)
missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$package")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
    sudo=sudo
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
