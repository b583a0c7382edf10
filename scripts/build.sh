#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the station. Usage: scripts/build.sh [plain|asan|tsan|clang]
# (build folder: build, build-asan, build-tsan, build-clang). "clang" compiles the libraries and
# vandorixctl with Debian's clang and its thread-safety analysis, warnings as errors; no tests, no
# benchmarks, and no link of vandorixserver (with clang, std::atomic<StationMode> needs libatomic).
set -euo pipefail
cd "$(dirname "$0")/.."
kind="${1:-plain}"
case "$kind" in
    plain) dir=build; opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo) ;;
    asan)  dir=build-asan; opts=(-DCMAKE_BUILD_TYPE=Debug -DVX_SANITIZE=ON -DVX_BUILD_BENCH=OFF) ;;
    tsan)  dir=build-tsan; opts=(-DCMAKE_BUILD_TYPE=Debug -DVX_TSAN=ON -DVX_BUILD_BENCH=OFF) ;;
    clang) dir=build-clang; opts=(-DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ -DVX_BUILD_TESTS=OFF
                                  -DVX_BUILD_BENCH=OFF "-DCMAKE_CXX_FLAGS=-Wthread-safety") ;;
    *) echo "usage: $0 [plain|asan|tsan|clang]" >&2; exit 2 ;;
esac
# ccache, where installed, lets several checkouts and the three builds share what they compiled alike.
if command -v ccache >/dev/null; then
    opts+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B "$dir" -G Ninja "${opts[@]}" >/dev/null
if [ "$kind" = clang ]; then
    cmake --build "$dir" -j "$(nproc)" --target vx_core vx_ui vx_app vandorixctl
else
    cmake --build "$dir" -j "$(nproc)"
fi
