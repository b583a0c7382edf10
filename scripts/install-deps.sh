#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the Debian packages the station needs to build, run and test. Safe to run again.
set -euo pipefail
packages=(
    build-essential cmake ninja-build pkg-config clang clang-format clang-tidy ccache
    qt6-base-dev libgl-dev
    libasound2-dev alsa-utils libasound2-plugins
    libpulse-dev pulseaudio pulseaudio-utils
    libmp3lame-dev lame
    libmpg123-dev mpg123
    libcurl4-openssl-dev
    libshout-dev
    libmicrohttpd-dev nlohmann-json3-dev python3-prometheus-client
    libsqlite3-dev libsodium-dev
    chromium chromium-driver python3-selenium ffmpeg mpv
    libsystemd-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    xvfb xauth fonts-liberation
    icecast2 procps
    groff-base dpkg-dev file lintian
    systemd init-system-helpers util-linux
    linux-perf
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq || true
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
