# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package, built by scripts/package.sh. CPack's DEB generator over the install rules above, so
# that "cmake --install" and the package install the same files; dpkg-shlibdeps derives Depends from the
# libraries the programs link. Configure with CMAKE_INSTALL_PREFIX=/usr and CMAKE_INSTALL_SYSCONFDIR=/etc.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vandorixserver)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "KT VandorixServer")
# Who answers for the package: VX_DEB_MAINTAINER="Name <address>" at configure time.
set(VX_DEB_MAINTAINER "KT VandorixServer maintainers <maintainers@vandorixserver.example.org>"
    CACHE STRING "The Debian package's Maintainer field")
set(CPACK_PACKAGE_CONTACT "${VX_DEB_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "internet-radio station broadcasting what the sound card records")
set(CPACK_PACKAGE_DESCRIPTION
    "KT VandorixServer captures a sound card, encodes it as MPEG Layer-3 and\n\
sends the stream to ICY players and to its listener program. It registers\n\
with a directory of stations, limits the listeners to the upload, relays\n\
to Icecast and obeys a remote control (vandorixctl). It runs with a window\n\
on the desktop or headless as a systemd service (installed disabled).")
# Paths written into the unit and the desktop starter are the installed ones, not the staging folder's.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# ALSA's pulse plugin: the user unit and the desktop capture through the sound server with alsa:pulse.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libasound2-plugins")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "icecast2")
# The maintainer scripts manage the service as debhelper's dh_installsystemd would (stop on removal,
# restart after an upgrade, the enablement purged), through init-system-helpers' deb-systemd-helper and
# deb-systemd-invoke. CPack rather than a debian/ folder: the install rules above stay the one list of
# what is installed, and scripts/package.sh needs no second build description.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "init-system-helpers (>= 1.54~)")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CMAKE_SOURCE_DIR}/dist/debian/conffiles ${CMAKE_SOURCE_DIR}/dist/debian/postinst
    ${CMAKE_SOURCE_DIR}/dist/debian/prerm ${CMAKE_SOURCE_DIR}/dist/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
