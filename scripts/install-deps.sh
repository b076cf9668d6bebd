#!/usr/bin/env bash
# Installs every Debian package Lumarok needs to build, run and test.
# This is the only place where package names are listed. Idempotent and
# silent when everything is already present.
set -euo pipefail

packages=(
    # build
    build-essential cmake ninja-build pkg-config clang-format
    # libraries
    libglm-dev nlohmann-json3-dev libglut-dev libgl-dev libx11-dev libpulse-dev libcairo2-dev
    libltc-dev libtomlplusplus-dev
    # tests, benchmarks, the clang build and libFuzzer
    libgtest-dev libbenchmark-dev clang libclang-rt-14-dev python3
    # the Debian package and its test: dependencies computed by dpkg-shlibdeps, which
    # needs file; the manual pages checked with man
    dpkg-dev file man-db
    # real peers used by the tests: OSC sender, audio server, X server, namespaces
    liblo-tools pulseaudio pulseaudio-utils xvfb xauth x11-apps imagemagick iproute2 procps
    # the laser sender under a competing load (tools/laser_load); setpriv is in util-linux
    stress-ng util-linux
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq >/dev/null
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
