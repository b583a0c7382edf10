#!/usr/bin/env bash
# Builds the Debian package build/vandorixserver_<version>_<arch>.deb and checks it: the files it must
# hold, the Depends that dpkg-shlibdeps found, and lintian's errors where lintian is installed.
# Usage: scripts/package.sh   (its own build folder, build-deb: installed paths are /usr and /etc)
set -euo pipefail
cd "$(dirname "$0")/.."
opts=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVX_BUILD_TESTS=OFF -DVX_BUILD_BENCH=OFF
      -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_INSTALL_SYSCONFDIR=/etc)
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
        ./etc/vandorixserver/vandorixserver.conf ./usr/share/doc/vandorixserver/copyright; do
    grep -q " $path\$" <<<"$contents" || fail "lacks $path"
done
grep -q '^-rw------- ./etc/vandorixserver/vandorixserver.conf$' <<<"$contents" ||
    fail "the configuration file is not readable by root alone"
if grep -E ' \./(usr/local|build|home|root)/' <<<"$contents"; then
    fail "holds files outside the installed paths"
fi
# The unit names the installed programs, not the build's staging folder.
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/vandorixserver.service)
grep -q '^ExecStart=/usr/bin/vandorixserver .*--config %d/vandorixserver.conf' <<<"$unit" ||
    fail "the unit's ExecStart is not /usr/bin/vandorixserver with the configuration file"
grep -q '^LoadCredential=vandorixserver.conf:/etc/vandorixserver/vandorixserver.conf$' <<<"$unit" ||
    fail "the unit does not read /etc/vandorixserver/vandorixserver.conf"
dpkg-deb --ctrl-tarfile "$deb" | tar -xO ./conffiles | grep -qx /etc/vandorixserver/vandorixserver.conf ||
    fail "the configuration file is no conffile"
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
