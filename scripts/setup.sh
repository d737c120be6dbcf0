#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing. Safe to run again.
# --tests adds what the tests need besides the build: the headless browser for the page tests.
set -euo pipefail

packages=(cmake ninja-build g++ libsqlite3-dev libcrypto++-dev libgtest-dev)
# The fuzz targets need clang with its libFuzzer runtime (scripts/fuzz.sh asks for it).
if [ "${ZB_FUZZ:-0}" = 1 ]; then packages+=(clang); fi
if [ "${1:-}" = "--tests" ]; then packages+=(chromium libxml2-utils); fi
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${missing[@]}"
