# The Debian package, built by scripts/package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME rzt604-modbus)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RZT_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service tool for the RZT-604D current-monitoring controller")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
# Only what the install rules name; no build or source tree in the package.
set(CPACK_SOURCE_IGNORE_FILES /build;/\\.git)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${RZT_MAINTAINER}")
# CPack indents this under the summary and marks the empty line.
set(CPACK_PACKAGE_DESCRIPTION
    "A Modbus RTU master for the RZT-604D controller over a USB to RS-485
adapter: live phase currents, frequency and analog inputs, the nine setting
parameters in the controller's EEPROM, parameter files, a commissioning
report and a trend window.

Also holds rzt604-cli, the same exchanges from a shell, and rzt604-sim, a
simulated controller on a pseudo-terminal.")
# Libraries from the binaries; the platform plugins are loaded at run time,
# so dpkg-shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n, fonts-liberation2, fonts-dejavu-core")

include(CPack)
