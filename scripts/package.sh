#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package build/vandorixserver_<version>_<arch>.deb and checks it: the files it must
# hold, the Depends that dpkg-shlibdeps found, and lintian's errors where lintian is installed.
# Usage: scripts/package.sh   (its own build folder, build-deb: installed paths are /usr and /etc)
set -euo pipefail
cd "$(dirname "$0")/.."
# Debian's hardening flags, as dpkg-buildpackage would pass them: fortified functions, stack protector,
# read-only relocations bound at load time. CMake takes no CPPFLAGS, so they join the compiler's flags.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
opts=(-DCMAKE_BUILD_TYPE=None -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc
      "-DCMAKE_CXX_FLAGS=$cppflags $cxxflags -DNDEBUG" "-DCMAKE_EXE_LINKER_FLAGS=$ldflags")
if command -v ccache >/dev/null; then
    opts+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1
fi
cmake -S . -B build-deb -G Ninja "${opts[@]}" >/dev/null
cmake --build build-deb -j "$(nproc)"
(cd build-deb && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(vandorixserver VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb="vandorixserver_${version}_$(dpkg --print-architecture).deb"
mkdir -p build
mv "build-deb/$deb" "build/$deb"
deb="build/$deb"

fail() { echo "package.sh: $deb: $*" >&2; exit 1; }
contents=$(dpkg-deb -c "$deb" | awk '{print $1, $6}')
for path in ./usr/bin/vandorixserver ./usr/bin/vandorixctl \
        ./usr/share/vandorixserver/lang/deutsch.txt ./usr/share/vandorixserver/lang/english.txt \
        ./usr/share/vandorixserver/Optionen.ini ./usr/share/icons/hicolor/32x32/apps/vandorixserver.png \
        ./usr/share/applications/vandorixserver.desktop ./usr/libexec/vandorixserver-desktop \
        ./usr/share/man/man1/vandorixserver.1.gz ./usr/share/man/man1/vandorixctl.1.gz \
        ./usr/lib/systemd/system/vandorixserver.service ./usr/lib/systemd/user/vandorixserver.service \
        ./etc/vandorixserver/vandorixserver.conf ./usr/share/doc/vandorixserver/copyright \
        ./usr/bin/vandorixdir ./usr/lib/systemd/system/vandorixdir.service \
        ./usr/share/man/man8/vandorixdir.8.gz ./etc/vandorixdir/vandorixdir.conf; do
    grep -q " $path\$" <<<"$contents" || fail "lacks $path"
done
grep -q '^-rw------- ./etc/vandorixserver/vandorixserver.conf$' <<<"$contents" ||
    fail "the configuration file is not readable by root alone"
if grep -E ' \./(usr/local|build|home|root)/' <<<"$contents"; then
    fail "holds files outside the installed paths"
fi
# The unit names the installed programs, not the build's staging folder.
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/vandorixserver.service)
grep -q '^ExecStart=/usr/bin/vandorixserver .*--config %d/etc_vandorixserver.conf --config-name /etc/vandorixserver/vandorixserver.conf ' <<<"$unit" ||
    fail "the unit's ExecStart is not /usr/bin/vandorixserver with the configuration file"
grep -q '^LoadCredential=etc:/etc/vandorixserver$' <<<"$unit" ||
    fail "the unit does not read /etc/vandorixserver"
grep -qx /etc/vandorixserver/vandorixserver.conf <<<"$(dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles)" ||
    fail "the configuration file is no conffile"
control=$(dpkg-deb --ctrl-tarfile "$deb" | tar -t)
for script in postinst prerm postrm; do
    grep -qx "./$script" <<<"$control" || fail "lacks the maintainer script $script"
done
# The hardening as built: bound at load time, and the fortified variants of the C library's functions.
for program in build-deb/bin/vandorixserver build-deb/bin/vandorixctl; do
    # Whole outputs first: grep -q would end the pipe early, and pipefail would count that as a failure.
    dynamic=$(readelf -d "$program")
    symbols=$(nm -D "$program")
    grep -q 'FLAGS.*BIND_NOW' <<<"$dynamic" || fail "$program is not linked with -z now"
    grep -q '__[a-z_]*_chk@' <<<"$symbols" || fail "$program uses no fortified function"
done
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libqt6core6 libqt6widgets6 libasound2 libpulse0 libmp3lame0 libcurl4 libshout3 libsystemd0 libc6; do
    grep -Eq "(^|, )$lib[ ,(]|(^|, )$lib\$" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
echo "$deb"
echo "Depends: $depends"
if command -v lintian >/dev/null; then
    # Errors fail the build; warnings are shown.
    lintian --tag-display-limit 0 "$deb" | tee build/lintian.txt || true
    if grep -q '^E: ' build/lintian.txt; then
        fail "lintian reports errors"
    fi
fi
