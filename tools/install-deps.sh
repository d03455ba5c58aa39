#!/usr/bin/env bash
# Installs what building and testing need on Debian 12: CMake and make, the
# mingw-w64 cross compiler for 32-bit Windows, 32-bit Wine to run the program
# and its tests, GoogleTest's sources (built for Windows alongside the
# tests), cppcheck, python3 for the benchmark and the kit check, openssl and
# osslsigncode for signing, and npm for the workflow linter. Installs nothing
# that is already present; needs root (or sudo) only when something is
# missing.
set -euo pipefail

packages=(cmake make g++-mingw-w64-i686 wine wine32:i386 googletest cppcheck python3 openssl osslsigncode)
# npm, for the linter of the hosted CI's workflows; a Node.js installed some
# other way that brings its own npm is as good.
command -v npm >/dev/null 2>&1 || packages+=(npm)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}\n' "$p" 2>/dev/null | grep -q '^install ok installed$' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
