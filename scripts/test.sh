#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and runs every test: once plain, once under AddressSanitizer and
# UndefinedBehaviorSanitizer, and the threaded parts under ThreadSanitizer.
# Usage: scripts/test.sh [--quick]   (--quick: the plain run only)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs="$(nproc)"

scripts/build.sh plain
ctest --test-dir build --output-on-failure -j "$jobs"
[ "${1:-}" = "--quick" ] && exit 0

# The libraries and programs under clang's thread-safety analysis: an access to a guarded member without
# its mutex fails.
scripts/build.sh clang
# clang-tidy's checks (.clang-tidy) on the files changed against the merge base: a few seconds a file.
scripts/tidy.sh

# The package under a systemd booted in namespaces of its own: install, run, upgrade, remove, purge.
# Skipped, with the reason, where the machine cannot boot systemd that way.
scripts/package.sh
timeout 300 tests/system/live-systemd.sh "build/vandorixserver_$(sed -n 's/^project(vandorixserver VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)_$(dpkg --print-architecture).deb"

scripts/build.sh asan
UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j "$jobs"

scripts/build.sh tsan
TSAN_OPTIONS="halt_on_error=1 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -j "$jobs" -L "^threaded$"
